#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Names of keys and values compare by this folded form: letter case is ignored for ASCII and
// for the common European scripts (Latin-1, Latin Extended-A, Greek, Cyrillic).
std::string FoldCase(std::string_view text);

enum class TValueKind
{
    String,
    Integer,
    // Any other stored form (binary, expandable text...): kept as its raw text and written
    // back unchanged, but never read as a string or an integer.
    Other
};

// The deepest key path the store reads or writes. A file may hold any depth; every level
// costs stack and memory when the tree is written, so a deeper key is refused as an error.
inline constexpr std::size_t MaxKeyDepth = 64;

struct TRegValue
{
    std::string Name;
    TValueKind Kind = TValueKind::String;
    std::string Text; // the string, or the raw data of another form
    std::int32_t Integer = 0;
    // The ";" comment lines that stand before the value in the file, written back there.
    std::vector<std::string> Comments = {};
};

// One key of the in-memory tree: its values in the order written, its sub-keys in
// alphabetical order ignoring case.
class TRegTreeKey
{
public:
    explicit TRegTreeKey(std::string name = {});

    const std::string& Name() const { return FName; }
    const std::vector<TRegValue>& Values() const { return FValues; }
    const std::vector<std::unique_ptr<TRegTreeKey>>& SubKeys() const { return FSubKeys; }

    TRegTreeKey* FindSubKey(std::string_view name) const;
    TRegTreeKey& CreateSubKey(const std::string& name);
    bool RemoveSubKey(std::string_view name);

    const TRegValue* FindValue(std::string_view name) const;
    // Replaces the value of the same name, whatever its kind, or appends it. The comments of
    // the value replaced stay, followed by the new value's own.
    void SetValue(TRegValue value);

    // The ";" comment lines that stand before the key's line in the file; for the root, also
    // those after the last key (Trailing).
    const std::vector<std::string>& Comments() const { return FComments; }
    void AddComments(std::vector<std::string> lines);
    const std::vector<std::string>& TrailingComments() const { return FTrailingComments; }
    void SetTrailingComments(std::vector<std::string> lines);

    // Walks a path of backslash-separated names; empty components are skipped.
    TRegTreeKey* Find(std::string_view path);
    TRegTreeKey& Create(std::string_view path);
    bool Remove(std::string_view path);

private:
    std::vector<std::unique_ptr<TRegTreeKey>>::const_iterator
    LowerBound(const std::string& folded) const;

    std::string FName;
    std::string FFolded;
    std::vector<TRegValue> FValues;
    std::vector<std::unique_ptr<TRegTreeKey>> FSubKeys;
    std::vector<std::string> FComments;
    std::vector<std::string> FTrailingComments;
};

// Splits "\A\B\\C" into {"A", "B", "C"}.
std::vector<std::string_view> SplitKeyPath(std::string_view path);
