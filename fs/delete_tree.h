// Removing a directory, and optionally everything below it, with a status
// line for every file and directory as it goes.
#pragma once

#include <stdint.h>

// Removes the directory in `path` (a writable 1024-byte buffer). With a
// nonzero `recursive` and a path that is acceptable as an installation
// directory, its files and subdirectories are deleted first, depth first in
// the order the file system lists them; read-only files are made writable.
// Nothing is reported back: what cannot be deleted stays. The buffer is
// extended while the tree is walked and holds the same path again on return.
void delete_tree(char* path, int32_t recursive);
