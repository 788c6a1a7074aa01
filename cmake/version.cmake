# vireo_version: an interface target whose users include "vireo_version.h" (VIREO_VERSION,
# VIREO_REVISION), refreshed at every build.
set(VIREO_VERSION_DIR ${CMAKE_BINARY_DIR}/generated)
add_custom_target(vireo_version_header
  BYPRODUCTS ${VIREO_VERSION_DIR}/vireo_version.h
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DVERSION=${PROJECT_VERSION}
          -DOUTPUT=${VIREO_VERSION_DIR}/vireo_version.h -P ${PROJECT_SOURCE_DIR}/cmake/revision.cmake
  COMMENT "Version header"
  VERBATIM)
add_library(vireo_version INTERFACE)
target_include_directories(vireo_version INTERFACE ${VIREO_VERSION_DIR})
add_dependencies(vireo_version vireo_version_header)
