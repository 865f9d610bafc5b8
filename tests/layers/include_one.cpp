// Included with the include folders of the target that builds this file; see
// CMakeLists.txt.
#include LAYERS_HEADER
