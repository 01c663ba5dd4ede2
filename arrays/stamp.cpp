#include "stamp.hpp"

#include <elf.h>
#include <link.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace core::arrays {
namespace {

struct Search {
    std::string path;  // the loaded _core, resolved
    std::string id;    // its build id in hex, once found
    bool found = false;
};

std::string resolved(const char* path) {
    char buffer[PATH_MAX];
    return realpath(path, buffer) != nullptr ? std::string(buffer) : std::string(path);
}

std::string note_build_id(const dl_phdr_info* info) {
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) & ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_NOTE) continue;
        const auto* at = reinterpret_cast<const unsigned char*>(info->dlpi_addr + ph.p_vaddr);
        const auto* end = at + ph.p_memsz;
        while (at + sizeof(ElfW(Nhdr)) <= end) {
            ElfW(Nhdr) nh;
            std::memcpy(&nh, at, sizeof nh);
            const unsigned char* name = at + sizeof nh;
            const unsigned char* desc = name + (nh.n_namesz + 3) / 4 * 4;
            if (nh.n_type == NT_GNU_BUILD_ID && nh.n_namesz == 4 &&
                std::memcmp(name, "GNU", 4) == 0) {
                std::string hex;
                for (ElfW(Word) k = 0; k < nh.n_descsz; ++k) {
                    hex += kHex[desc[k] >> 4];
                    hex += kHex[desc[k] & 15];
                }
                return hex;
            }
            at = desc + (nh.n_descsz + 3) / 4 * 4;
        }
    }
    return {};
}

int visit(dl_phdr_info* info, size_t, void* data) {
    auto& search = *static_cast<Search*>(data);
    if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
    if (resolved(info->dlpi_name) != search.path) return 0;
    search.id = note_build_id(info);
    search.found = true;
    return 1;
}

}  // namespace

nb::object checked_core() {
    nb::object core = nb::module_::import_("_core");
    const std::string file = nb::str(core.attr("__file__")).c_str();
    Search search{resolved(file.c_str())};
    dl_iterate_phdr(visit, &search);
    if (search.found && search.id == kCoreBuildId) return core;
    const std::string message = "gfxcore.arrays cannot be used with the loaded _core (" + file +
                                "): it was built with " + "another build of _core (build id " +
                                kCoreBuildId + ", loaded " +
                                (search.id.empty() ? std::string("none found") : search.id) +
                                "); install both from one build (pip install gfxcore)";
    throw nb::import_error(message.c_str());
}

}  // namespace core::arrays
