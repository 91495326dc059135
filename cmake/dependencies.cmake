# The libraries the build promises, each checked at configure time. A missing one stops the
# configuration with the Debian packages that provide it, instead of a compiler error later on.
include(CheckCXXSourceCompiles)

function(velmora_stop_missing what packages option)
  string(CONCAT text "${what} is missing. Install the Debian package(s): ${packages}\n"
                     "(scripts/setup installs every package the build needs)")
  if(option)
    string(APPEND text ", or configure with -D${option}=OFF to build without it")
  endif()
  message(FATAL_ERROR "${text}.")
endfunction()

find_package(Threads REQUIRED)

if(VELMORA_TESTS)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND OR NOT TARGET GTest::gmock)
    velmora_stop_missing("GoogleTest / GoogleMock" "libgtest-dev libgmock-dev" VELMORA_TESTS)
  endif()
endif()

if(VELMORA_BENCH)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    velmora_stop_missing("Google Benchmark" "libbenchmark-dev" VELMORA_BENCH)
  endif()
endif()

if(VELMORA_GUI)
  find_package(Qt6 6.4 QUIET COMPONENTS Gui Widgets Test)
  if(NOT Qt6_FOUND)
    velmora_stop_missing("Qt 6 (Gui, Widgets, Test)" "qt6-base-dev libgl-dev" VELMORA_GUI)
  endif()
endif()

if(VELMORA_PYTHON)
  find_package(pybind11 CONFIG QUIET)
  if(NOT pybind11_FOUND)
    velmora_stop_missing("pybind11 (the Python module)" "pybind11-dev python3-dev" VELMORA_PYTHON)
  endif()
  if(VELMORA_TESTS)
    # The module's tests run under pytest and read spectra as numpy arrays.
    execute_process(COMMAND ${PYTHON_EXECUTABLE} -c "import numpy, pytest"
                    RESULT_VARIABLE velmora_python_imports OUTPUT_QUIET ERROR_QUIET)
    if(NOT velmora_python_imports EQUAL 0)
      velmora_stop_missing("numpy or pytest for ${PYTHON_EXECUTABLE}" "python3-numpy python3-pytest"
                           VELMORA_PYTHON)
    endif()
  endif()
endif()

# NIfTI image series and maps through Debian's niftiio library. nifti1_io.h (libniftiio-dev)
# includes nifti1.h, which only libnifti2-dev ships: finding one header is not enough, so a small
# program that reads a volume must compile and link.
if(VELMORA_NIFTI)
  find_path(VELMORA_NIFTI_INCLUDE_DIR nifti1_io.h PATH_SUFFIXES nifti)
  find_library(VELMORA_NIFTI_LIBRARY niftiio)
  if(VELMORA_NIFTI_INCLUDE_DIR AND VELMORA_NIFTI_LIBRARY)
    set(CMAKE_REQUIRED_INCLUDES ${VELMORA_NIFTI_INCLUDE_DIR})
    set(CMAKE_REQUIRED_LIBRARIES ${VELMORA_NIFTI_LIBRARY})
    set(CMAKE_REQUIRED_QUIET ON)
    check_cxx_source_compiles([[
      #include <nifti1_io.h>
      int main() { nifti_image* image = nifti_image_read("", 0); return image == nullptr ? 0 : 1; }
    ]] VELMORA_NIFTI_COMPILES)
    unset(CMAKE_REQUIRED_INCLUDES)
    unset(CMAKE_REQUIRED_LIBRARIES)
    unset(CMAKE_REQUIRED_QUIET)
  endif()
  # Compressed series are checked for their length with zlib's gzip reader before the library reads them.
  find_package(ZLIB QUIET)
  if(NOT ZLIB_FOUND)
    velmora_stop_missing("zlib (compressed NIfTI series)" "zlib1g-dev" VELMORA_NIFTI)
  endif()
  if(NOT VELMORA_NIFTI_COMPILES)
    # Forget the failed result, so that a configuration after the install checks again.
    unset(VELMORA_NIFTI_COMPILES CACHE)
    velmora_stop_missing("The NIfTI library (nifti1_io.h with nifti1.h, libniftiio)" "libnifti2-dev"
                         VELMORA_NIFTI)
  endif()
endif()
