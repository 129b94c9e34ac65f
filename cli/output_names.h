#pragma once

#include <QString>

// The names of the images lumiclip-cli writes into a folder: derived from the address, or from a
// --name template.
namespace lumiclip {

// A file name for the capture of url: its host, port and path with everything unsafe turned into
// '_', at most 120 characters and 200 bytes, then "." and the format in lower case.
QString FileNameForUrl(const QString& url, const QString& format);

// What is wrong with a --name template, empty when nothing is: a placeholder other than {index},
// {host}, {path}, {hash} and {size}, a "{" left open, a "/" (a name is a file in the output folder) or no
// text.
QString CheckNameTemplate(const QString& nameTemplate);

// A file name for the capture of url, at 1-based position index in the list, from a checked template:
// {index} is the position, {host} the address's host, {path} its path, {hash} the first 10 hex digits of
// the address's SHA-1; each value with everything unsafe turned into '_' as in FileNameForUrl, so that
// nothing from an address can leave the folder. At most 120 characters and 200 bytes (within the file
// system's 255 with the extension and a repeat's "-N"), never cut inside a character; when too long, the
// template's text and the {host} and {path} values are cut, never the {index} or {hash} values. Then "."
// and the format in lower case.
// {size} is the image's size ("180x138"), never cut either.
QString FileNameFromTemplate(const QString& nameTemplate, const QString& url, qsizetype index,
                             const QString& format, const QString& size = QString());

}  // namespace lumiclip
