# The C library: include/tavik.h over the core, as a shared library (libtavik.so.N, N the ABI
# version, exporting tavik_* only) and a static one (libtavik.a), with the install rules for
# the headers, both libraries, a CMake package (find_package(tavik): tavik::tavik and
# tavik::tavik_static) and a pkg-config file (tavik.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

file(STRINGS ${CMAKE_SOURCE_DIR}/include/tavik.h TAVIK_ABI_LINE REGEX "^#define TAVIK_ABI_VERSION ")
string(REGEX REPLACE "^#define TAVIK_ABI_VERSION ([0-9]+).*" "\\1" TAVIK_ABI_VERSION
       "${TAVIK_ABI_LINE}")
file(GLOB TAVIK_CAPI_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/capi/*.cc)

add_library(tavik_capi_objects OBJECT ${TAVIK_CAPI_SOURCES})
target_include_directories(tavik_capi_objects PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(tavik_capi_objects PRIVATE ${TAVIK_WARNINGS})
target_compile_definitions(tavik_capi_objects PRIVATE TAVIK_VERSION="${PROJECT_VERSION}")
set_target_properties(tavik_capi_objects PROPERTIES CXX_VISIBILITY_PRESET hidden
                                                    VISIBILITY_INLINES_HIDDEN ON)
foreach(kind shared static)
  set(target tavik_c_${kind})
  string(TOUPPER ${kind} KIND)
  add_library(${target} ${KIND} $<TARGET_OBJECTS:tavik_capi_objects>
                                $<TARGET_OBJECTS:tavik_core_objects>)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                                              $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME tavik LINKER_LANGUAGE CXX)
endforeach()
set_target_properties(tavik_c_shared PROPERTIES EXPORT_NAME tavik VERSION ${PROJECT_VERSION}
                                                SOVERSION ${TAVIK_ABI_VERSION})
set_target_properties(tavik_c_static PROPERTIES EXPORT_NAME tavik_static)
# Only tavik_* leaves the shared library; the core and the static pieces of the C++ runtime
# stay inside. Every symbol it needs is resolved when it is linked (the sanitizers' runtime is
# resolved at load time, so the check is off under them).
target_link_options(tavik_c_shared PRIVATE
                    "-Wl,--version-script=${CMAKE_SOURCE_DIR}/capi/exports.map")
set_property(TARGET tavik_c_shared APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/capi/exports.map)
if(NOT TAVIK_SANITIZE)
  target_link_options(tavik_c_shared PRIVATE -Wl,-z,defs)
endif()

install(FILES ${CMAKE_SOURCE_DIR}/include/tavik.h ${CMAKE_SOURCE_DIR}/include/tavik.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS tavik_c_shared tavik_c_static EXPORT tavikTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
set(TAVIK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tavik)
install(EXPORT tavikTargets NAMESPACE tavik:: DESTINATION ${TAVIK_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/tavikConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/tavikConfig.cmake
                              INSTALL_DESTINATION ${TAVIK_CMAKE_DIR})
# Within one ABI version a newer library serves every program built against an older one.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/tavikConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/tavikConfig.cmake ${CMAKE_BINARY_DIR}/tavikConfigVersion.cmake
        DESTINATION ${TAVIK_CMAKE_DIR})
# The prefix relative to the pkg-config file, so that an installed tree may move.
file(RELATIVE_PATH TAVIK_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" TAVIK_PC_TO_PREFIX "${TAVIK_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/tavik.pc.in ${CMAKE_BINARY_DIR}/tavik.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/tavik.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
