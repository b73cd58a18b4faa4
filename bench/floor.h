/* The floor of the engine's tree walks: the same walks in plain C, making only the system calls
 * the device's file semantics require on Linux, for the benchmark to compare the engine with. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Files under rel (relative to the image root fdRoot), counted by the listing's type (looked up
 * only where the listing gives none); -1 on failure. */
long FloorCount(int fdRoot, const char* rel);
/* The count, then a copy of the tree src to the new folder dst, each change resolved from the
 * root; files copied, -1 on failure. */
long FloorCopy(int fdRoot, const char* src, const char* dst);
/* Deletes the tree rel, each entry looked up, each removal resolved from the root; 0 or -1. */
int FloorDelete(int fdRoot, const char* rel);

#ifdef __cplusplus
}
#endif
