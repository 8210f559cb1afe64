#include "model/model.h"

int main(int argc, char** argv) { return RunCompilerProcess(argc, argv); }
