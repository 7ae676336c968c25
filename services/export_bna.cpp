#include "services/export.h"

std::unique_ptr<CzonExporter> MakeBNAExporter(pipContext&) { return nullptr; }
