# The cosine and sine tables of trapft_core: the platform's libm (exact, the
# default) or, with TRAPFT_VECTOR_MATH, SLEEF's vector sincos with the widest
# instruction set chosen when the program runs.
option(TRAPFT_VECTOR_MATH "Fill the cosine and sine tables with SLEEF (faster, within 1 ULP, not exact)" OFF)

if(NOT TRAPFT_VECTOR_MATH)
  target_sources(trapft_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/phase_tables_libm.cpp)
  return()
endif()

if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$")
  message(FATAL_ERROR "TRAPFT_VECTOR_MATH needs an x86-64 target")
endif()
find_path(SLEEF_INCLUDE_DIR sleef.h REQUIRED)
find_library(SLEEF_LIBRARY sleef REQUIRED)

set(lane_flags_2 "")
set(lane_flags_4 "-mavx")
set(lane_flags_8 "-mavx512f")
foreach(lanes 2 4 8)
  add_library(trapft_sleef${lanes} OBJECT ${CMAKE_CURRENT_LIST_DIR}/phase_tables_sleef_kernel.cpp)
  target_compile_definitions(trapft_sleef${lanes} PRIVATE TRAPFT_SLEEF_LANES=${lanes})
  target_compile_options(trapft_sleef${lanes} PRIVATE ${lane_flags_${lanes}})
  target_include_directories(trapft_sleef${lanes} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include ${SLEEF_INCLUDE_DIR})
  target_sources(trapft_core PRIVATE $<TARGET_OBJECTS:trapft_sleef${lanes}>)
endforeach()
target_sources(trapft_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/phase_tables_sleef.cpp)
target_link_libraries(trapft_core PUBLIC ${SLEEF_LIBRARY})
