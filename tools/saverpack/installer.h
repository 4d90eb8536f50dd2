// saverpack installer: a Windows setup program for one saver, compiled by NSIS's makensis.
#ifndef QUENVALE_TOOLS_SAVERPACK_INSTALLER_H_
#define QUENVALE_TOOLS_SAVERPACK_INSTALLER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace saverpack {

// UTF-8 text as one NSIS string in double quotes, read back by makensis and the installer as
// exactly that text: "$" and "{" (which the preprocessor would take for a ${define}) and the
// quotes are escaped, line breaks and tabs become NSIS's escapes.
std::string NsisQuoted(const std::string& utf8);

// The first icon group of a Windows executable as an .ico file; empty when it has none. A file
// that is not a Windows executable is an error.
std::vector<uint8_t> IconFromExecutable(const std::vector<uint8_t>& executable,
                                        const std::string& path);

// The four numbers of a version resource for a version text ("1.0" -> "1.0.0.0"); empty when
// the text is not one to four numbers of at most 65535 separated by dots.
std::string NumericVersion(const std::string& version);

// The holder named by a copyright line ("Copyright 2026 the Acme team" -> "the Acme team"), for
// an installer's publisher; empty when the line does not start with a copyright word or sign.
std::string PublisherFromCopyright(const std::string& copyright);

}  // namespace saverpack

#endif  // QUENVALE_TOOLS_SAVERPACK_INSTALLER_H_
