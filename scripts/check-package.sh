#!/usr/bin/env bash
# Checks the Debian package that `cmake --build --preset release --target package` writes:
#   scripts/check-package.sh [PACKAGE.deb]     (default build/release/lumiclip_<version>_<arch>.deb)
# lintian finds no error; the package holds the programs, the menu entry, the metainfo, the icons, the
# man pages, the completion and its documents; the menu entry and the metainfo validate; the man pages
# and the completion know every flag of lumiclip-cli --help; and lumiclip-cli, unpacked, captures the
# sample page from a local server. Each failed check is named; the exit status is 1 if any failed.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

deb=${1:-}
if [ -z "$deb" ]; then
  project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$here/build/release/CMakeCache.txt" 2>/dev/null)
  deb=$here/build/release/lumiclip_${project_version}_$(dpkg --print-architecture).deb
fi
if [ ! -f "$deb" ]; then
  echo "check-package: no package $deb; build it with" \
       "cmake --build --preset release --target package" >&2
  exit 1
fi

failures=0
pass() { echo "package: ok    $1"; }
fail() {
  echo "package: FAIL  $1"
  failures=$((failures + 1))
}

tmp=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

echo "package: checking $deb"

# lintian: errors fail; warnings are shown.
lintian_out=$(lintian --fail-on error "$deb" 2>&1)
lintian_status=$?
lintian_out=$(grep -v 'running with root privileges' <<<"$lintian_out")
[ -n "$lintian_out" ] && echo "$lintian_out" | sed 's/^/package:       lintian: /'
if [ $lintian_status -eq 0 ]; then
  pass "lintian reports no error"
else
  fail "lintian reports errors (above)"
fi

# The file list.
version=$(dpkg-deb -f "$deb" Version)
listing=$(dpkg-deb -c "$deb" | awk '{print $1 " " $6}')
expected=(
  usr/bin/lumiclip usr/bin/lumiclip-cli usr/bin/lumiclip-serve
  "usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/lumiclip/lumiclip-image.so"
  usr/share/applications/net.ombrix.Lumiclip.desktop
  usr/share/metainfo/net.ombrix.Lumiclip.metainfo.xml
  usr/share/man/man1/lumiclip.1.gz usr/share/man/man1/lumiclip-cli.1.gz usr/share/man/man1/lumiclip-serve.1.gz
  usr/lib/systemd/system/lumiclip-serve.service
  usr/share/bash-completion/completions/lumiclip-cli
  usr/share/doc/lumiclip/copyright usr/share/doc/lumiclip/changelog.gz
)
for size in 16 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/lumiclip.png")
done
missing=()
for path in "${expected[@]}"; do
  grep -q " \./$path\$" <<<"$listing" || missing+=("$path")
done
if [ ${#missing[@]} -eq 0 ]; then
  pass "the package holds its ${#expected[@]} files"
else
  fail "the package lacks ${missing[*]}"
fi
for program in lumiclip lumiclip-cli lumiclip-serve; do
  grep -q "^-rwxr-xr-x \./usr/bin/$program\$" <<<"$listing" || fail "usr/bin/$program is not an executable file"
done
outside=$(awk '{print $2}' <<<"$listing" | grep -v -e '^\./$' -e '^\./usr/' || true)
local_files=$(awk '{print $2}' <<<"$listing" | grep '^\./usr/local' || true)
if [ -z "$outside" ] && [ -z "$local_files" ]; then
  pass "every file is under /usr, none under /usr/local"
else
  fail "files outside /usr or in /usr/local: $outside $local_files"
fi

depends=$(dpkg-deb -f "$deb" Depends)
lacking=()
for dep in "chromium-headless-shell | chromium" libcurl4 fonts-noto-cjk fonts-noto-color-emoji xdg-utils libqt6widgets6 libvips42; do
  grep -qF "$dep" <<<"$depends" || lacking+=("$dep")
done
[ ${#lacking[@]} -eq 0 ] && pass "Depends: $depends" || fail "Depends lacks ${lacking[*]}: $depends"
[ "$(basename "$deb")" = "lumiclip_${version}_$(dpkg --print-architecture).deb" ] || fail "$(basename "$deb") is not named after version $version"

# Unpacked as the package would install it, into a folder of our own.
root=$tmp/root
dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb -x cannot unpack the package"; exit 1; }
cli=$root/usr/bin/lumiclip-cli

out=$(desktop-file-validate "$root/usr/share/applications/net.ombrix.Lumiclip.desktop" 2>&1)
[ $? -eq 0 ] && [ -z "$out" ] && pass "desktop-file-validate: the menu entry is clean" ||
  fail "desktop-file-validate: $out"
out=$(appstreamcli validate --no-net "$root/usr/share/metainfo/net.ombrix.Lumiclip.metainfo.xml" 2>&1)
[ $? -eq 0 ] && pass "appstreamcli validate --no-net: the metainfo validates" || fail "appstreamcli validate: $out"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/net.ombrix.Lumiclip.metainfo.xml" ||
  fail "the metainfo's release is not $version"

# Each icon is the size its folder says.
wrong=$(python3 - "$root/usr/share/icons/hicolor" <<'EOF'
import pathlib, struct, sys
for png in sorted(pathlib.Path(sys.argv[1]).glob("*/apps/lumiclip.png")):
    header = png.read_bytes()[:24]
    size = "%dx%d" % struct.unpack(">II", header[16:24]) if header[:8] == b"\x89PNG\r\n\x1a\n" else "not a PNG"
    if size != png.parent.parent.name:
        print("%s is %s" % (png.parent.parent.name, size))
EOF
)
[ -z "$wrong" ] && pass "each icon is the size of its folder" || fail "icons: $wrong"

# The man pages: groff finds no fault, and lumiclip-cli's names every flag its --help lists.
help=$("$cli" --help)
flags=$(grep -oE '^ +(-[A-Za-z], )?--[a-z0-9][a-z0-9-]*' <<<"$help" | grep -oE -- '--[a-z0-9-]+')
[ "$(wc -l <<<"$flags")" -ge 20 ] || fail "lumiclip-cli --help lists only $(wc -l <<<"$flags") flags"
for page in lumiclip lumiclip-cli lumiclip-serve; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] && pass "man $page: no groff warning" || fail "man $page: $warnings"
done
manpage=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/lumiclip-cli.1.gz" 2>/dev/null | col -b)
unnamed=()
for flag in $flags; do
  grep -qF -- "$flag" <<<"$manpage" || unnamed+=("$flag")
done
for section in "EXIT STATUS" FILES EXAMPLES; do
  grep -q "^$section" <<<"$manpage" || unnamed+=("section $section")
done
[ ${#unnamed[@]} -eq 0 ] && pass "man lumiclip-cli names all $(wc -l <<<"$flags") flags, exit status, files, examples" ||
  fail "man lumiclip-cli lacks ${unnamed[*]}"

# The service's unit: systemd's own check finds no fault (where systemd-analyze is there), and the
# package enables nothing.
unit=$root/usr/lib/systemd/system/lumiclip-serve.service
if command -v systemd-analyze >/dev/null; then
  out=$(systemd-analyze verify --man=no "$unit" 2>&1 | grep -v -e 'usr/bin/lumiclip-serve' -e 'Failed to prepare filename' || true)
  [ -z "$out" ] && pass "systemd-analyze verify: the unit is clean" || fail "systemd-analyze verify: $out"
fi
for setting in DynamicUser=yes NoNewPrivileges=yes PrivateTmp=yes ProtectSystem=strict ProtectHome=yes \
    CacheDirectory=lumiclip-serve; do
  grep -qx "$setting" "$unit" || fail "the unit lacks $setting"
done
if dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -q -e postinst -e prerm; then
  fail "the package has maintainer scripts: it must enable no service"
else
  pass "the unit is installed, enabled by nothing"
fi

# The completion, run as bash would run it after "lumiclip-cli <word>".
completion=$root/usr/share/bash-completion/completions/lumiclip-cli
complete_words() {
  bash -c 'compopt() { :; }; source "$1"; shift; COMP_WORDS=(lumiclip-cli "$@"); COMP_CWORD=$#
           _lumiclip_cli; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
}
offered=$(complete_words --)
uncompleted=()
for flag in $flags; do
  grep -qxF -- "$flag" <<<"$offered" || uncompleted+=("$flag")
done
[ ${#uncompleted[@]} -eq 0 ] && pass "bash completion offers all $(wc -l <<<"$flags") long flags" ||
  fail "bash completion does not offer ${uncompleted[*]}"
formats=$(complete_words -f '' | tr '\n' ' ')
[ "$formats" = "JPG GIF PNG WEBP " ] && pass "bash completion: -f offers $formats" ||
  fail "bash completion: -f offers \"$formats\", not JPG GIF PNG WEBP"
touch "$tmp/list-of-addresses.txt"
files=$(complete_words --input "$tmp/list-of")
[ "$files" = "$tmp/list-of-addresses.txt" ] && pass "bash completion: --input completes a file name" ||
  fail "bash completion: --input $tmp/list-of gives \"$files\""

# The unpacked lumiclip-cli captures the sample page from a server on 127.0.0.1.
mkdir -p "$tmp/home" "$tmp/site"
cp "$here/res/sample/index.html" "$tmp/site/"
python3 - "$tmp/site" >"$tmp/port" 2>/dev/null <<'EOF' &
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()
EOF
server_pid=$!
for _ in $(seq 50); do
  [ -s "$tmp/port" ] && break
  sleep 0.1
done
port=$(cat "$tmp/port")
image=$tmp/sample.png
if HOME=$tmp/home XDG_CONFIG_HOME= "$cli" "http://127.0.0.1:$port/index.html" -f PNG -o "$image" \
    --timeout 60 >"$tmp/cli.out" 2>&1; then
  size=$(python3 -c 'import struct,sys; print("%dx%d" % struct.unpack(">II", open(sys.argv[1],"rb").read(24)[16:24]))' "$image")
  [ "$size" = 180x138 ] && pass "the unpacked lumiclip-cli captured the sample page ($size PNG)" ||
    fail "the unpacked lumiclip-cli wrote a $size image, not 180x138"
else
  fail "the unpacked lumiclip-cli did not capture http://127.0.0.1:$port/index.html: $(cat "$tmp/cli.out")"
fi

# Installed in /usr/bin the settings are the user's ~/.config/lumiclip/Lumiclip.ini, even for root, who
# may write /usr/bin. Seen in a mount namespace of its own, where the unpacked folder is /usr/bin: a
# settings file's fault names the file that was read.
mkdir -p "$tmp/home/.config/lumiclip"
printf '[capture]\nimg_format=BMP\n' >"$tmp/home/.config/lumiclip/Lumiclip.ini"
printf '[capture]\nimg_format=TIFF\n' >"$root/usr/bin/Lumiclip.ini"
if unshare --mount true 2>/dev/null; then
  read_from=$(HOME=$tmp/home XDG_CONFIG_HOME= unshare --mount sh -c \
    'mount --bind "$1" /usr/bin && exec /usr/bin/lumiclip-cli http://127.0.0.1:1/' _ "$root/usr/bin" 2>&1)
  if grep -qF "$tmp/home/.config/lumiclip/Lumiclip.ini" <<<"$read_from"; then
    pass "installed in /usr/bin, lumiclip-cli reads ~/.config/lumiclip/Lumiclip.ini"
  else
    fail "installed in /usr/bin, lumiclip-cli did not read ~/.config/lumiclip/Lumiclip.ini: $read_from"
  fi
else
  echo "package: skip  the installed settings location (no mount namespace here)"
fi
portable=$(HOME=$tmp/home XDG_CONFIG_HOME= "$cli" http://127.0.0.1:1/ 2>&1)
grep -qF "$root/usr/bin/Lumiclip.ini" <<<"$portable" &&
  pass "elsewhere, lumiclip-cli reads the Lumiclip.ini beside it" ||
  fail "outside /usr/bin, lumiclip-cli did not read the Lumiclip.ini beside it: $portable"

if [ $failures -ne 0 ]; then
  echo "package: $failures check(s) failed" >&2
  exit 1
fi
echo "package: every check passed"
