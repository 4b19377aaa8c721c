#include "AtomicFileWrite.h"

#include <fstream>
#include <system_error>

namespace corvane::modelfile {

std::string writeFileAtomically(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write)
{
    std::error_code error;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), error);
    if (error)
        return "cannot create " + path.parent_path().string() + ": " + error.message();

    auto partial = path;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!out)
            return "cannot open " + partial.string() + " for writing";
        try {
            write(out);
        } catch (...) {
            out.close();
            std::filesystem::remove(partial, error);
            throw;
        }
        out.close();
        if (!out) {
            std::filesystem::remove(partial, error);
            return "cannot write " + partial.string();
        }
    }

    std::filesystem::rename(partial, path, error);
    if (error) {
        const std::string reason = error.message();
        std::filesystem::remove(partial, error);
        return "cannot rename " + partial.string() + " to " + path.string() + ": " + reason;
    }
    return {};
}

} // namespace corvane::modelfile
