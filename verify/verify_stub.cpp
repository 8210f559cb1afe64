#include "model/model.h"
#include <iostream>
bool VerifyCompiledFile() { return VerifyModelFile(OutputPathOf(modelContainer), modelContainer, std::cout); }
bool VerifyModelFile(const std::string&, const ModelContainer&, std::ostream&) { return false; }
