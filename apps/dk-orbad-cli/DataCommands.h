// dk-orbad-cli's commands over the client's data routines, each on a file or a text of its line:
//   json FILE [nsnull] [strict]       the client's JSON scanner, then its serializer: "json TEXT",
//                                     "json NIL" or "json ERROR DOMAIN CODE DESCRIPTION"
//   b64 encode FILE [lines] | b64 decode TEXT         the older Base64 routines
//   b64x encode FILE [LINELEN] | b64x decode TEXT     the newer ones
//   encode-id TEXT | sha1 FILE | query TEXT           "text ..." or a "query KEY=VALUE" line a pair
//   aes encrypt|decrypt KEY FILE | aes encrypt-text|decrypt-text KEY TEXT
//   image NAME [2x] OUT.png           a resource image written out: "image WxH scale=S"
// Bytes answer as "bytes HEX", texts as "text TEXT", a failed decryption as "NIL".
#pragma once

#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"
#include "orbad/core/AESCrypt.h"

namespace dk::tools::orbadcli {

// The whole of a file; false when it cannot be read.
bool readFile(const std::string& path, orbad::Data& out);

class DataCommands : private Voice {
public:
    explicit DataCommands(Say say) : Voice(std::move(say)) {}
    static const std::vector<AreaCommand<DataCommands>>& commands();

private:
    bool json(Call& call);
    bool b64(Call& call);
    bool b64x(Call& call);
    bool base64(const std::vector<Arg>& args, bool second);
    bool encodeId(Call& call);
    bool sha1(Call& call);
    bool query(Call& call);
    bool aes(Call& call);
    bool image(Call& call);
};

}  // namespace dk::tools::orbadcli
