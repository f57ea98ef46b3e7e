# The compiled Python module orvek._native (pybind11 over the native C++ API
# and the study engine), built when pybind11 and Python's development files
# are found, and installed into the package folder beside the ctypes layer.
# The build stages an importable package in <build>/python (the package's
# .py files and the module), which the tests put on PYTHONPATH.
option(ORVEK_BUILD_PYTHON_MODULE "Build the compiled Python module when pybind11 and Python are found" ON)
set(ORVEK_PYTHON_MODULE FALSE)
# Not in sanitizer builds: python3 cannot load the sanitizers' run-times
# after its start, so the module could not be imported there.
if(ORVEK_BUILD_PYTHON_MODULE AND ORVEK_HOST_PYTHON AND NOT ORVEK_SANITIZE)
  set(PYBIND11_FINDPYTHON ON)
  set(Python_EXECUTABLE "${ORVEK_HOST_PYTHON}")
  find_package(Python COMPONENTS Interpreter Development.Module QUIET)
  if(Python_FOUND)
    find_package(pybind11 CONFIG QUIET)
  endif()
  if(Python_FOUND AND pybind11_FOUND)
    set(ORVEK_PYTHON_MODULE TRUE)
  else()
    message(STATUS "orvek: no pybind11 or no Python development files; the compiled Python module is not built")
  endif()
endif()

if(ORVEK_PYTHON_MODULE)
  set(ORVEK_PYTHON_STAGE "${CMAKE_BINARY_DIR}/python")
  # NO_EXTRAS: no link-time optimisation or stripping; the module's objects
  # are compiled like the library's.
  pybind11_add_module(orvek_python_native MODULE NO_EXTRAS
    "${CMAKE_CURRENT_LIST_DIR}/module.cpp" "${CMAKE_CURRENT_LIST_DIR}/engine.cpp")
  target_link_libraries(orvek_python_native PRIVATE orvek_study_engine orvek_cpp orvek_casefile)
  target_include_directories(orvek_python_native PRIVATE "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/include")
  target_compile_options(orvek_python_native PRIVATE ${ORVEK_WARNINGS})
  set_target_properties(orvek_python_native PROPERTIES OUTPUT_NAME _native
    LIBRARY_OUTPUT_DIRECTORY "${ORVEK_PYTHON_STAGE}/orvek")
  file(GLOB package_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/../orvek/*.py")
  set(staged "")
  foreach(source IN LISTS package_sources)
    get_filename_component(name "${source}" NAME)
    add_custom_command(OUTPUT "${ORVEK_PYTHON_STAGE}/orvek/${name}"
      COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${source}" "${ORVEK_PYTHON_STAGE}/orvek/${name}"
      DEPENDS "${source}" VERBATIM)
    list(APPEND staged "${ORVEK_PYTHON_STAGE}/orvek/${name}")
  endforeach()
  add_custom_target(orvek_python_stage ALL DEPENDS ${staged})
  add_dependencies(orvek_python_native orvek_python_stage)
  add_dependencies(orvek_hosts orvek_python_native)
  install(TARGETS orvek_python_native LIBRARY DESTINATION ${ORVEK_PYTHON_INSTALL_DIR}/orvek)
endif()

# ---- Tests of the compiled module ------------------------------------------
# The studies against orvek-study's numbers, every exception path, the
# threaded road, the N-1 screening serially and on a Dask LocalCluster, the
# pictures. They need Debian's numpy, scipy, pandas, networkx, matplotlib,
# dask and distributed, and pytest.
if(ORVEK_PYTHON_MODULE AND ORVEK_BUILD_TESTS AND ORVEK_HOSTS_PLAIN_BUILD)
  execute_process(COMMAND "${ORVEK_HOST_PYTHON}" -c
      "import pytest, numpy, scipy, pandas, networkx, matplotlib, dask.distributed"
    RESULT_VARIABLE native_test_imports OUTPUT_QUIET ERROR_QUIET)
  if(native_test_imports EQUAL 0)
    set(native_test_env "PYTHONPATH=${ORVEK_PYTHON_STAGE}" "ORVEK_LIBRARY=$<TARGET_FILE:orvek>"
        "MPLBACKEND=Agg")
    if(TARGET orvek-study)
      list(APPEND native_test_env "ORVEK_STUDY_PROGRAM=$<TARGET_FILE:orvek-study>")
    endif()
    add_test(NAME hosts.python.native
      COMMAND "${ORVEK_HOST_PYTHON}" -B -m pytest -q -p no:cacheprovider "${CMAKE_CURRENT_LIST_DIR}/tests"
      WORKING_DIRECTORY "${CMAKE_CURRENT_LIST_DIR}/tests")
    set_tests_properties(hosts.python.native PROPERTIES LABELS hosts TIMEOUT 900 RUN_SERIAL TRUE
      ENVIRONMENT "${native_test_env}")
  else()
    message(STATUS "orvek: the compiled module's tests need pytest, numpy, scipy, pandas, networkx, matplotlib and "
                   "dask.distributed under ${ORVEK_HOST_PYTHON}; not registered")
  endif()
endif()
