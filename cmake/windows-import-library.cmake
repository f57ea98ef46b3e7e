# Writes the import library of ORVEK.dll (run with cmake -P after the link).
# A host's compiler references a stdcall routine by its decorated name
# _Name@bytes; the DLL exports the plain Name. The import library binds the
# two: it is generated from the export table (names, ordinals) and from the
# byte counts the compiler gave each routine in the library's objects.
# Inputs: NM, DLLTOOL, DEF (the export table), OBJECT_LIST (a file naming
# the objects), DLL_NAME, OUTPUT (the import library), DECORATED_DEF.
foreach(var NM DLLTOOL DEF OBJECT_LIST DLL_NAME OUTPUT DECORATED_DEF)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "windows-import-library: ${var} is not set")
  endif()
endforeach()

file(STRINGS "${OBJECT_LIST}" objects)
execute_process(COMMAND "${NM}" -g --defined-only ${objects}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_status ERROR_VARIABLE nm_errors)
if(NOT nm_status EQUAL 0)
  message(FATAL_ERROR "windows-import-library: ${NM} failed: ${nm_errors}")
endif()

file(STRINGS "${DEF}" entries REGEX "^[ \t]+[A-Za-z_0-9]+[ \t]+@[0-9]+")
set(body "LIBRARY ${DLL_NAME}\nEXPORTS\n")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^[ \t]+([A-Za-z_0-9]+)[ \t]+@([0-9]+).*$" "\\1" name "${entry}")
  string(REGEX REPLACE "^[ \t]+([A-Za-z_0-9]+)[ \t]+@([0-9]+).*$" "\\2" ordinal "${entry}")
  string(REGEX MATCH " T _${name}@([0-9]+)\n" found "${symbols}")
  if(NOT found)
    message(FATAL_ERROR "windows-import-library: no stdcall definition of ${name} in the library's objects")
  endif()
  string(APPEND body "    ${name}@${CMAKE_MATCH_1} @${ordinal}\n")
endforeach()
file(WRITE "${DECORATED_DEF}" "${body}")

# --kill-at: the name imported from the DLL is the plain one.
execute_process(COMMAND "${DLLTOOL}" --input-def "${DECORATED_DEF}" --dllname "${DLL_NAME}"
                        --output-lib "${OUTPUT}" --kill-at
                RESULT_VARIABLE tool_status ERROR_VARIABLE tool_errors)
if(NOT tool_status EQUAL 0)
  message(FATAL_ERROR "windows-import-library: ${DLLTOOL} failed: ${tool_errors}")
endif()
