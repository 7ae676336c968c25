#include "services/export.h"

std::unique_ptr<CzonExporter> MakePXFExporter(pipContext&) { return nullptr; }
