# Every system library and program the build links or the tests run, checked once at
# configure time. A missing one stops the configuration with the Debian package that
# provides it: scripts/bootstrap installs all of them, and nothing is ever left out of
# the build quietly.

function(vrq_missing what package)
  message(FATAL_ERROR
    "${what} was not found: install the Debian package ${package} "
    "(scripts/bootstrap installs everything the build needs)")
endfunction()

# vrq_require_module(<prefix> <pkg-config module> <Debian package>): PkgConfig::<prefix>.
macro(vrq_require_module prefix module package)
  if(NOT TARGET PkgConfig::${prefix})
    pkg_check_modules(${prefix} QUIET IMPORTED_TARGET GLOBAL ${module})
    if(NOT ${prefix}_FOUND)
      vrq_missing("pkg-config module ${module}" ${package})
    endif()
  endif()
endmacro()

# vrq_require_library(<variable> <file or name> <Debian package>): the library's path.
function(vrq_require_library variable name package)
  find_library(${variable} NAMES ${name})
  if(NOT ${variable})
    vrq_missing("library ${name}" ${package})
  endif()
endfunction()

# vrq_require_header(<variable> <header> <Debian package>): the folder that holds it.
function(vrq_require_header variable header package)
  find_path(${variable} ${header})
  if(NOT ${variable})
    vrq_missing("header ${header}" ${package})
  endif()
endfunction()

# vrq_require_program(<variable> <program> <Debian package>): the program's path.
function(vrq_require_program variable program package)
  find_program(${variable} ${program})
  if(NOT ${variable})
    vrq_missing("program ${program}" ${package})
  endif()
endfunction()

find_package(PkgConfig QUIET)
if(NOT PKG_CONFIG_FOUND)
  vrq_missing("pkg-config" pkg-config)
endif()
find_package(Threads REQUIRED)

# The HID transport, the printer discovery and the device watcher.
vrq_require_module(LIBUDEV libudev libudev-dev)
# The logind lock that keeps the machine awake while a printer is written (sd-bus).
vrq_require_module(LIBSYSTEMD libsystemd libsystemd-dev)
# The CRC-32 of an update application's linked package, linked statically so that an
# update application needs no library more than the program did.
vrq_require_library(LIBDEFLATE_STATIC_LIBRARY libdeflate.a libdeflate-dev)
vrq_require_header(LIBDEFLATE_INCLUDE_DIR libdeflate.h libdeflate-dev)
# The SHA-256 that names a package in the update history, linked statically for the same
# reason.
vrq_require_library(NETTLE_STATIC_LIBRARY libnettle.a nettle-dev)
vrq_require_header(NETTLE_INCLUDE_DIR nettle/sha2.h nettle-dev)
# The update history is read and written as JSON lines (header only).
vrq_require_header(NLOHMANN_JSON_INCLUDE_DIR nlohmann/json.hpp nlohmann-json3-dev)
# hidapi's hidraw back end is loaded with dlopen at run time; the build needs its header.
vrq_require_header(HIDAPI_INCLUDE_DIR hidapi/hidapi.h libhidapi-dev)
# JSON for --json and --all: header-only, so the program stays self-contained.
find_package(nlohmann_json 3.10 QUIET CONFIG)
if(NOT nlohmann_json_FOUND)
  vrq_missing("nlohmann_json (CMake package)" nlohmann-json3-dev)
endif()
# The simulated printer (vrq-printer-sim and the tests) runs on umockdev.
vrq_require_module(UMOCKDEV umockdev-1.0 libumockdev-dev)
vrq_require_library(UMOCKDEV_PRELOAD libumockdev-preload.so.0 umockdev)

# FLTK is linked statically; the X11 libraries it calls are the desktop's shared ones.
vrq_require_header(FLTK_INCLUDE_DIR FL/Fl.H libfltk1.3-dev)
vrq_require_library(FLTK_STATIC_LIBRARY libfltk.a libfltk1.3-dev)
# The window's icon: the packaged SVG rendered to PNGs at build time, read by FLTK's PNG
# image (libpng is on every desktop that has Xft: FreeType needs it).
vrq_require_library(FLTK_IMAGES_STATIC_LIBRARY libfltk_images.a libfltk1.3-dev)
vrq_require_library(PNG_LIBRARY png16 libpng-dev)
vrq_require_program(PROGRAM_RSVG_CONVERT rsvg-convert librsvg2-bin)
set(FLTK_X11_LIBRARIES)
foreach(entry Xrender:libxrender-dev Xcursor:libxcursor-dev Xfixes:libxfixes-dev
              Xext:libxext-dev Xft:libxft-dev fontconfig:libfontconfig1-dev
              Xinerama:libxinerama-dev X11:libx11-dev)
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 library)
  list(GET entry 1 package)
  vrq_require_library(X11_LIB_${library} ${library} ${package})
  list(APPEND FLTK_X11_LIBRARIES ${X11_LIB_${library}})
endforeach()
list(APPEND FLTK_X11_LIBRARIES m)

# Where udev reads its rules, as the installed udev says.
pkg_get_variable(UDEV_DIR udev udevdir)
if(NOT UDEV_DIR)
  vrq_missing("pkg-config module udev (the udev rules folder)" udev)
endif()

if(BUILD_TESTING)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    vrq_missing("GoogleTest" libgtest-dev)
  endif()
  vrq_require_library(GMOCK_LIBRARY gmock libgmock-dev)
  vrq_require_library(LIBUTIL util libc6-dev)
  # The HID tests open the emulated printer through hidapi's back end, as the library does.
  vrq_require_library(HIDAPI_HIDRAW_LIBRARY libhidapi-hidraw.so.0 libhidapi-hidraw0)
  # The window tests, the end-to-end scripts and the checks of the installed files.
  foreach(entry xvfb-run:xvfb xauth:xauth xdotool:xdotool import:imagemagick
                xwininfo:x11-utils man:man-db groff:groff-base
                desktop-file-validate:desktop-file-utils appstreamcli:appstream
                dbus-daemon:dbus script:bsdutils)
    string(REPLACE ":" ";" entry ${entry})
    list(GET entry 0 program)
    list(GET entry 1 package)
    string(MAKE_C_IDENTIFIER "${program}" id)
    string(TOUPPER "${id}" id)
    vrq_require_program(PROGRAM_${id} ${program} ${package})
  endforeach()
  # The stand-in for logind in the tests of the sleep lock: python-dbusmock, which only
  # the Debian python3 has (not another python3 that may come first on the PATH).
  function(vrq_python_has_dbusmock result candidate)
    execute_process(COMMAND ${candidate} -c "import dbusmock"
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(NOT status EQUAL 0)
      set(${result} FALSE PARENT_SCOPE)
    endif()
  endfunction()
  find_program(PYTHON3_DBUSMOCK NAMES python3 VALIDATOR vrq_python_has_dbusmock)
  if(NOT PYTHON3_DBUSMOCK)
    vrq_missing("python3 module dbusmock" python3-dbusmock)
  endif()
  # The check of every JSON object the programs print against docs/outcome.schema.json,
  # with Debian's python3 and its jsonschema (not another python3 first on the PATH).
  function(vrq_python_has_jsonschema result candidate)
    execute_process(COMMAND ${candidate} -c "import jsonschema; jsonschema.Draft202012Validator"
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(NOT status EQUAL 0)
      set(${result} FALSE PARENT_SCOPE)
    endif()
  endfunction()
  find_program(PYTHON3_JSONSCHEMA NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH
               VALIDATOR vrq_python_has_jsonschema)
  if(NOT PYTHON3_JSONSCHEMA)
    vrq_missing("python3 module jsonschema (with JSON Schema 2020-12)" python3-jsonschema)
  endif()
  # The Ansible collection's tests run Debian's ansible-core (for its python3).
  foreach(program ansible-playbook ansible-doc ansible-galaxy)
    string(MAKE_C_IDENTIFIER "${program}" id)
    string(TOUPPER "${id}" id)
    find_program(PROGRAM_${id} ${program} PATHS /usr/bin NO_DEFAULT_PATH)
    if(NOT PROGRAM_${id})
      vrq_missing("program /usr/bin/${program}" ansible-core)
    endif()
  endforeach()
endif()

if(VRQ_BENCH)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    vrq_missing("Google Benchmark" libbenchmark-dev)
  endif()
  find_package(ZLIB QUIET)
  if(NOT ZLIB_FOUND)
    vrq_missing("zlib" zlib1g-dev)
  endif()
endif()
