#pragma once

#include <string>

// Whole-file reads and replacements that leave either the old bytes or the new ones where a
// crash, a kill or a full disk strikes, never half of each. Paths are bytes, as the kernel
// takes them.
namespace SafeFile {

// The file `path` names once its symbolic links are followed; `path` itself when nothing is
// there, so that a dangling link is written through to the file it names.
bool resolveLinks(const std::string& path, std::string& target, std::string& error);

bool readAll(const std::string& path, std::string& bytes, std::string& error);

// Follow: a link at the path is the user's way of keeping the file elsewhere (settings).
// Replace: the file is the program's own, and a link in its place is replaced, never written
// through (a cache).
enum class Links { Follow, Replace };

// Gives the file at `path` (through its links, unless told otherwise) the content `bytes`:
// written to a temporary file beside it, synced, given the old file's mode and owner and
// renamed over it. Where no file can be made beside it, or its owner could not be kept, the
// file is overwritten in place; never a link's target with Links::Replace.
bool replace(const std::string& path, const std::string& bytes, std::string& error,
             Links links = Links::Follow);

// Overwrites an existing file from its first changed byte on; growth is reserved before any
// byte changes, so a full disk leaves the old content, and a failed write puts it back.
bool overwriteInPlace(const std::string& path, const std::string& bytes, std::string& error);

// Removes the temporary files that an interrupted replace of `path` left beside its target.
void removeStaleTemporaries(const std::string& path);

// Whether `name` is one of the temporary files that replace makes beside `targetName`.
bool isTemporaryName(const std::string& name, const std::string& targetName);

}  // namespace SafeFile
