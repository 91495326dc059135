// The molecule and the sequence the user works on: the names they were last opened or saved under
// and the text they had then, so that an edit since can be told (the window's title mark, the
// question before another file or the end of the program replaces an edited model).
#pragma once

#include <array>
#include <string>
#include <vector>

namespace velmora::workbench {

// The two documents, in the order of the file frame's lists.
enum class FileList { Molecules = 0, Sequences = 1 };

class OpenDocuments {
public:
    // The model now holds what `name` holds ("" when it came from the automatic copies or the
    // defaults); `lines` is its text as the file would be written.
    void markSaved(FileList document, std::string name, std::vector<std::string> lines)
    {
        entries_[index(document)] = {std::move(name), std::move(lines)};
    }
    // Keeps the name and takes `lines` as the unedited text: a change that is not the user's edit
    // (a run's preparation, a switch of mode) rewrote what the file would hold.
    void rebase(FileList document, std::vector<std::string> lines)
    {
        entries_[index(document)].lines = std::move(lines);
    }
    const std::string& name(FileList document) const { return entries_[index(document)].name; }
    bool edited(FileList document, const std::vector<std::string>& lines) const
    {
        return entries_[index(document)].lines != lines;
    }

private:
    struct Entry {
        std::string name;
        std::vector<std::string> lines;
    };
    static std::size_t index(FileList document) { return static_cast<std::size_t>(document); }

    std::array<Entry, 2> entries_;
};

}  // namespace velmora::workbench
