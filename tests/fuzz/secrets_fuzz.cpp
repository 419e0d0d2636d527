// Fuzz target: arbitrary bytes as a secrets file. A refused file leaves no
// credentials behind, the file's bytes are overwritten, and a problem never
// repeats a password that was read.
#include "secretsfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string content(reinterpret_cast<const char *>(data), size);
    std::map<std::uint64_t, veltrona::change::Credentials> read;
    const std::string problem = veltrona::change::parseSecrets(content, read);
    if (!content.empty())
        std::abort(); // overwritten and emptied
    if (!problem.empty() && !read.empty())
        std::abort();
    for (auto &[key, credentials] : read) {
        if (credentials.user.empty())
            std::abort();
        veltrona::change::wipeCredentials(credentials);
    }
    return 0;
}
