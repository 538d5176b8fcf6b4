#include "classlib/stringlist.h"

void TStrings::CheckIndex(int index) const {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
}

const std::string& TStrings::Strings(int index) const {
    CheckIndex(index);
    return lines_[index];
}

void TStrings::SetStrings(int index, const std::string& line) {
    CheckIndex(index);
    lines_[index] = line;
}

int TStrings::Add(const std::string& line) {
    lines_.push_back(line);
    return Count() - 1;
}

void TStrings::Delete(int index) {
    CheckIndex(index);
    lines_.erase(lines_.begin() + index);
}

std::string TStrings::Text() const {
    std::string text;
    for (const std::string& line : lines_) text += line + "\r\n";
    return text;
}

void TStrings::Assign(const TPersistent& source) {
    if (auto* strings = dynamic_cast<const TStrings*>(&source)) {
        lines_ = strings->lines_;
        return;
    }
    TPersistent::Assign(source);
}
