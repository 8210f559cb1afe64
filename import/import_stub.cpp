#include "model/model.h"
int LoadModel() { return LoadModel(modelContainer); }
int LoadModel(ModelContainer&) { return kImportFailed; }
