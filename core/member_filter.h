// Choosing members by name (the options form's -i and -x): shell globs
// over a member's path with "/" between its folders. "*" stands for any
// run of characters within one folder name, "?" for one character, [abc],
// [a-z] and [!abc] for one character of a set; a "**" component stands
// for any number of folders ("**/x.txt", "docs/**"), and "**" at either
// end of a component reaches across folders ("**.txt"). A pattern that
// matches a folder also matches everything below it. MemberOutput asks
// here for every member in every mode, so all handlers choose alike.
#pragma once

#include <string>
#include <vector>

// Adds a pattern (program text, "\" or "/" between folders). `typed` is
// the pattern as the user wrote it, for naming it.
void AddMemberPattern(const char* pattern, const std::string& typed, bool include);
// Forgets every pattern.
void ClearMemberPatterns();

// True when the member is wanted: no -i pattern, or one that matches it,
// and no -x pattern that matches it. Every pattern that matches is
// remembered. `name` is program text with "\" or "/" between folders.
bool MemberSelected(const char* name);

// The patterns, as typed, that matched no member so far.
std::vector<std::string> UnmatchedMemberPatterns();

// One component of a pattern against one component of a name (neither
// holds a separator): "*", "?" and sets, by whole characters.
bool MatchComponent(const char* pattern, size_t patternLength, const char* name, size_t nameLength);
