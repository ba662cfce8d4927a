# Joins the HTML error pages (errorpages/<id>.html) into one C++ source: a
# table of ids and UTF-16 texts that ErrorPageHtml looks up.
file(GLOB inputs "${INPUT_DIR}/*.html")
list(SORT inputs)
set(entries "")
foreach(f IN LISTS inputs)
  get_filename_component(id "${f}" NAME_WE)
  if(NOT id MATCHES "^[0-9]+$")
    message(FATAL_ERROR "error page ${f}: the file name must be the resource id")
  endif()
  file(READ "${f}" page)
  string(FIND "${page}" ")LUMAREST_PAGE\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "error page ${f} contains the raw-string delimiter")
  endif()
  string(APPEND entries "    {${id}, uR\"LUMAREST_PAGE(${page})LUMAREST_PAGE\"},\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT_DIR}; do not edit.
#include \"host/ErrorPages.h\"

namespace frame_detail {
extern const ErrorPageEntry kErrorPages[];
extern const unsigned kErrorPageCount;
const ErrorPageEntry kErrorPages[] = {
${entries}};
const unsigned kErrorPageCount = sizeof(kErrorPages) / sizeof(kErrorPages[0]);
}  // namespace frame_detail
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
