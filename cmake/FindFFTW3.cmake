# Finds FFTW3's double-precision library (libfftw3-dev) as FFTW3::fftw3.
# FFTW3_LIBRARY and FFTW3_INCLUDE_DIR may be set beforehand (a static
# library for a cross build, say); FFTW3_FOUND says whether both were found.
find_library(FFTW3_LIBRARY fftw3)
find_path(FFTW3_INCLUDE_DIR fftw3.h)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(FFTW3 REQUIRED_VARS FFTW3_LIBRARY FFTW3_INCLUDE_DIR)
if(FFTW3_FOUND AND NOT TARGET FFTW3::fftw3)
  add_library(FFTW3::fftw3 UNKNOWN IMPORTED)
  set_target_properties(FFTW3::fftw3 PROPERTIES
    IMPORTED_LOCATION "${FFTW3_LIBRARY}" INTERFACE_INCLUDE_DIRECTORIES "${FFTW3_INCLUDE_DIR}")
endif()
