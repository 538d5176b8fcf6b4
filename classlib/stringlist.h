// Lists of text lines: TStrings and its plain list TStringList.
#pragma once
#include <string>
#include <vector>

#include "classlib/classes.h"

// An ordered list of lines in the ANSI code page.
class TStrings : public TPersistent {
public:
    int Count() const { return static_cast<int>(lines_.size()); }
    // The line at index; a bad index raises EListError "List index out of bounds (<index>)".
    const std::string& Strings(int index) const;
    void SetStrings(int index, const std::string& line);
    const std::string& operator[](int index) const { return Strings(index); }
    int Add(const std::string& line);
    void Delete(int index);
    void Clear() { lines_.clear(); }
    // All lines, each followed by a carriage return and line feed.
    std::string Text() const;
    void Assign(const TPersistent& source) override;

private:
    void CheckIndex(int index) const;
    std::vector<std::string> lines_;
};

class TStringList : public TStrings {};
