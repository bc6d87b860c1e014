// OrvExport: decodes a package (or a stream and its connectivity) into glb,
// PC2, MDD or OBJ frames.
#include "Export/ExportRun.h"

int main(int argc, char** argv) { return orv::runOrvExport(argc, argv); }
