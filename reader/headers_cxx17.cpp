// Compiled as C++17: every public header must build for engines on C++17.
#include <varndel/file_names.h>
#include <varndel/mapped.h>
#include <varndel/player.h>
#include <varndel/reader.h>
#include <varndel/records.h>
#include <varndel/sample.h>
#include <varndel/takes.h>
#include <varndel/textures.h>
#include <varndel/validate.h>
#include <varndel/writer.h>

#if __cplusplus > 201703L
#error "this file checks the public headers under C++17"
#endif
