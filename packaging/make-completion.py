#!/usr/bin/env python3
"""Writes the bash completion of lumiclip-cli from what its --help says.

    make-completion.py PROGRAM OUTPUT

Every option line of the help ("  -o, --output PATH   text", the text two spaces or more after the
option, or on the lines below) gives the flags to complete and whether they take a value. A value
named FILE or PATH completes as a file name; a value whose text starts with a list of words
("JPG, GIF, PNG, WEBP (default JPG)", "load (default), domcontentloaded or networkidle") completes as
one of those words, as does a value name of choices ("fast|slow"); any other value is the user's to
type. Generated at build time, so a new flag is completed as soon as the help lists it.
"""

import os
import re
import subprocess
import sys

OPTION_LINE = re.compile(r"^ {2,}(-.*)$")
CONTINUATION = re.compile(r"^ {8,}\S")
# Words at the start of a text, joined by ", " or " or ", each perhaps followed by "(default)".
WORD = r"([A-Za-z][\w-]*)(?: \(default\))?"
WORD_LIST = re.compile(WORD + r"((?:(?:, | or )" + WORD + r")+)(?=$| \(|[;,.:]| and )")
FILE_VALUES = {"FILE", "PATH"}


def parse_help(text):
    """The options of a help text: a list of [flags, value name, description]."""
    options = []
    current = None
    for line in text.splitlines():
        match = OPTION_LINE.match(line)
        if match and not CONTINUATION.match(line):
            parts = re.split(r" {2,}", match.group(1), maxsplit=1)
            flags, value = [], []
            for token in parts[0].split(" "):
                if not value and token.startswith("-"):
                    flags.append(token.rstrip(","))
                else:
                    value.append(token)
            current = [flags, " ".join(value), parts[1].strip() if len(parts) > 1 else ""]
            options.append(current)
        elif current is not None and CONTINUATION.match(line):
            current[2] = (current[2] + " " + line.strip()).strip()
        else:
            current = None  # a blank line or a paragraph ends the option's text
    return options


def listed_values(description):
    """The words a value is chosen from, when the description starts with a list of them."""
    match = WORD_LIST.match(description)
    if not match:
        return []
    return [match.group(1)] + re.findall(r"(?:, | or )" + WORD, match.group(2))


def shell_words(words):
    return "'" + " ".join(words) + "'"


def completion_script(options):
    all_flags = [flag for flags, _, _ in options for flag in flags]
    cases, typed = [], []
    for flags, value, description in options:
        if not value:
            continue
        values = value.split("|") if "|" in value else listed_values(description)
        if value in FILE_VALUES:
            action = 'compopt -o filenames; mapfile -t COMPREPLY < <(compgen -f -- "$cur")'
        elif values:
            action = 'mapfile -t COMPREPLY < <(compgen -W %s -- "$cur")' % shell_words(values)
        else:
            typed.extend(flags)
            continue
        cases.append("        %s)\n            %s\n            return ;;" % ("|".join(flags), action))
    if typed:
        # Values of the user's own: nothing to offer, but not a flag either.
        cases.append("        %s)\n            COMPREPLY=()\n            return ;;" % "|".join(typed))
    return """# bash completion for lumiclip-cli, generated from its --help by packaging/make-completion.py.
_lumiclip_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    if [ "$COMP_CWORD" -gt 0 ]; then
        prev=${COMP_WORDS[COMP_CWORD - 1]}
    fi
    case $prev in
%s
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W %s -- "$cur")
        return
    fi
    # An address may be a local file.
    compopt -o filenames
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -F _lumiclip_cli lumiclip-cli
""" % ("\n".join(cases), shell_words(all_flags))


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make-completion.py PROGRAM OUTPUT")
    program, output = sys.argv[1:]
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
    text = subprocess.run([program, "--help"], check=True, capture_output=True, text=True, env=env).stdout
    options = parse_help(text)
    if not any("--help" in flags for flags, _, _ in options):
        sys.exit("make-completion.py: no option list in the output of %s --help" % program)
    with open(output + ".tmp", "w", encoding="utf-8") as out:
        out.write(completion_script(options))
    os.replace(output + ".tmp", output)


if __name__ == "__main__":
    main()
