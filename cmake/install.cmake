# Installation: the tool and its manual by default ("runtime"); the library,
# its headers, the C interface and the CMake package on request, with
# cmake --install BUILD --component development; the Debian package holds the
# runtime component and its copyright file.
include(CMakePackageConfigHelpers)

install(TARGETS trapft RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES man/trapft.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/trapft RENAME copyright
        COMPONENT copyright EXCLUDE_FROM_ALL)

set(library_targets trapft_core)
if(TRAPFT_C_INTERFACE)
  list(APPEND library_targets trapft_c)
  install(FILES capi/trapft.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development EXCLUDE_FROM_ALL)
endif()
install(TARGETS ${library_targets} EXPORT trapftTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development EXCLUDE_FROM_ALL
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development EXCLUDE_FROM_ALL
                NAMELINK_COMPONENT development)
install(DIRECTORY include/trapft ${PROJECT_BINARY_DIR}/include/trapft DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development EXCLUDE_FROM_ALL)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/trapft)
install(EXPORT trapftTargets NAMESPACE trapft:: DESTINATION ${package_dir}
        COMPONENT development EXCLUDE_FROM_ALL)
configure_package_config_file(cmake/trapftConfig.cmake.in ${PROJECT_BINARY_DIR}/trapftConfig.cmake
                              INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/trapftConfigVersion.cmake COMPATIBILITY SameMajorVersion)
set(package_files ${PROJECT_BINARY_DIR}/trapftConfig.cmake ${PROJECT_BINARY_DIR}/trapftConfigVersion.cmake)
if(TRAPFT_HAS_FAST_EVALUATION)
  list(APPEND package_files cmake/FindFFTW3.cmake)
endif()
install(FILES ${package_files} DESTINATION ${package_dir} COMPONENT development EXCLUDE_FROM_ALL)

set(TRAPFT_MAINTAINER "trapft maintainers <maintainers@users.noreply.c-seed-d63a6f7e.example>"
    CACHE STRING "Maintainer named in the Debian package")
set(CPACK_PACKAGE_NAME trapft)
set(CPACK_PACKAGE_CONTACT "${TRAPFT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "trapft reads (time, value) samples, which need not be evenly spaced, and
prints the continuous-time spectrum X(f) = integral of x(t)*exp(-i*2*pi*f*t) dt,
taken by the trapezoidal rule, at evenly stepped frequencies: frequency,
real part, imaginary part and magnitude, one line each, to 15 digits.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# The package holds the runtime component and the copyright file Debian asks for.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};trapft;runtime;/;${PROJECT_BINARY_DIR};trapft;copyright;/")
include(CPack)
