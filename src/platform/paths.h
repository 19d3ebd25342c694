// Paths of the program: the program directory, program-form paths ("dyn\thread.ini",
// ".\DYN\LINKS.INI") mapped to native ones, and names from outside reduced to safe plain names.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace vanta::platform {

// The program directory: all data lives below it. Set once at start-up (created when missing).
// Absolute or relative to the cwd; stored absolute and lexically normalised, no trailing '/'.
void SetProgramDir(std::string dir);
// "" until set. The reference stays valid for the life of the process, even across a later
// SetProgramDir (tests set a fresh directory per case).
const std::string& ProgramDir();

// Program-form path -> absolute native path. Accepts "/" and "\" as separators and a leading ".\" or
// "./"; relative paths are relative to ProgramDir() (never the process cwd); absolute paths stay
// absolute. Each component that already exists is matched case-insensitively (ASCII; an exact match is
// preferred), missing components keep the spelling given. "." is dropped and ".." removes the
// previous component, lexically. A NUL byte ends the path.
std::string ResolvePath(std::string_view path);

// The lexical part of ResolvePath: separators unified, "." and ".." folded, made absolute against
// ProgramDir(). Touches no file.
std::string LexicalPath(std::string_view path);
// The case-insensitive part of ResolvePath, for a path LexicalPath() returned. When not every
// component exists, `deepest_dir` (if given) receives the deepest existing directory of the result and
// `deepest_stat` that directory's state taken before its entries were read: a new entry with another
// spelling can only appear after that state changed. Both are left empty/untouched otherwise.
std::string ResolveLexical(const std::string& lexical, std::string* deepest_dir = nullptr,
                           struct ::stat* deepest_stat = nullptr);

// Creates every missing directory of an already-resolved or program-form directory path, reusing
// existing components case-insensitively. True when the directory exists afterwards.
bool EnsureDir(std::string_view path);
// Creates the missing parent directories of a file path.
bool EnsureParentDir(std::string_view file_path);

// The part after the last '/' or '\'.
std::string_view BaseName(std::string_view path);
// Everything before the last '/' or '\' ("" when there is none; "/" for a file in the root).
std::string_view DirName(std::string_view path);

// A file name from a peer/server/script reduced to a plain name: cut at a NUL byte, only the part
// after the last '/' or '\', control bytes become '_', leading dots are dropped, at most 255 bytes
// (the extension is kept); an empty result becomes "_".
std::string SanitizeName(std::string_view name);
// Joins a sanitized name under root; the result never leaves root.
std::string SafeJoin(std::string_view root, std::string_view name);
// Joins a relative path from outside (a file-server path such as "sub\dir\file") under root keeping
// its folders: every component is sanitized, "." and empty ones are dropped and ".." goes up only
// within root. The result never leaves root (symbolic links inside root are not followed here).
std::string SafeJoinPath(std::string_view root, std::string_view relative);

// Window names used in log and scratch file names: '/', '\', NUL, control bytes -> '_', a leading
// dot -> '_'; an empty name becomes "_".
std::string WindowFileName(std::string_view name);

}  // namespace vanta::platform
