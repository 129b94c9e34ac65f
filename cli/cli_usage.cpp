#include "cli/cli_options.h"

namespace lumiclip {

QString CliUsage() {
    return QStringLiteral(
               "Usage: lumiclip-cli [options] URL...\n"
               "Captures web pages as images.\n"
               "\n"
               "%1"
               "\n"
               "\n"
               "An address without a scheme is completed as a browser's address bar does: example.org\n"
               "becomes http://example.org, an absolute path a file: address. file: addresses capture\n"
               "local files with the rights of the user running the tool; use --web-only for lists\n"
               "taken from others.\n"
               "\n"
               "A --browser that is neither on this machine (loopback) nor wss:// is warned about: the\n"
               "pages and the browser's control travel the network unencrypted.\n"
               "\n"
               "Exit status: 0 all captured, 1 some capture failed or a --browser never answered, 2\n"
               "usage error, 128+N ended by signal N (each address not captured is reported as\n"
               "interrupted).\n")
        .arg(OptionHelp(CliOptionRows()));
}

}  // namespace lumiclip
