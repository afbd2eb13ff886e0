#pragma once
// The message file subcommands of tovik-codec, as functions over streams so
// the executable only parses its arguments.
//
// tovik-codec list FILE
//   stdout, one line per definition in file order:
//     <name> TAB S<stream>F<function> TAB SML|HEX LF
//   (name as loaded, its control characters escaped as \xHH; stream and
//   function as the codec decodes the text).
//   Exit 0. On a syntax error the lines of the definitions before it are
//   printed, then on stderr the parser's two lines and
//     <FILE>:<line>: Syntax error LF
//   and the exit status is 1.
//
// tovik-codec format FILE
//   stdout: the document exactly as saving writes it (CR LF line ends,
//   header included). Exit 0. On a syntax error nothing goes to stdout (a
//   script piping the output over the file loses nothing), stderr gets the
//   same three lines as for list, exit 1.
//
// Both: a file that cannot be read gives on stderr
//     <FILE>: cannot read: <reason> LF
//   and exit status 1. Like the program, only the first 1,048,575 bytes of a
//   file are read.
#include <iosfwd>
#include <string>

namespace tovik {

int RunListCommand(const std::string& path, std::ostream& out, std::ostream& err);
int RunFormatCommand(const std::string& path, std::ostream& out, std::ostream& err);

} // namespace tovik
