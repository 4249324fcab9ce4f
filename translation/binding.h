// Which block of a translation text applies to which resource of a module.
// A text travels: it may come back to another version of the module, or to
// another module, where the resource at its index is another resource.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/reporter.h"
#include "formats/files.h"
#include "formats/module_archive.h"
#include "translation/translation_table.h"

namespace modtext {

// Binds every block of the text to a resource: the one at the block's index
// when its name and kind are the header's (as export writes them), or else
// the one resource of the module with that name and kind, with a warning;
// otherwise the block is skipped, with a warning. The kind is a script for
// ".NSS", and otherwise the resource's GFF type letters. When several blocks
// are bound to one resource, the first counts, and the others are warned of.
class BlockBinding {
public:
    BlockBinding(const TranslationTable& table, const ModuleArchive& archive, InputFile& source,
                 Reporter& reporter);

    // The block bound to a resource, or none.
    std::optional<FileRecord> find(std::size_t resource) const;
    // How many resources a block is bound to.
    std::size_t bound() const { return bound_; }

private:
    static constexpr std::size_t none = ~std::size_t{0};
    const TranslationTable& table_;
    std::vector<std::size_t> record_of_;  // per resource
    std::size_t bound_ = 0;
};

// A resource's name and kind as a header line writes them: "name.LET".
std::string resource_header_name(const ModuleArchive& archive, std::size_t resource,
                                 InputFile& source, TextEncoding encoding = TextEncoding::raw);
// The same, of the resource of that key at that place of the source.
std::string resource_header_name(const KeyEntry& key, const ResourceEntry& place, InputFile& source,
                                 TextEncoding encoding);

}  // namespace modtext
