# Writes the uninstaller's list of what the installer puts in place, in name order. CPack lists
# the files in the order the file system returns them, which differs between file systems, so
# the installer would differ from one build machine to another.
# cmake -DFOLDER=<the files the installer holds> -DOUTPUT=<NSIS include to write> -P this-file
file(GLOB_RECURSE files RELATIVE "${FOLDER}" "${FOLDER}/*")
file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${FOLDER}" "${FOLDER}/*")
set(text "")
foreach(file IN LISTS files)
    string(REPLACE "/" "\\" file "${file}")
    string(APPEND text "  Delete \"$INSTDIR\\${file}\"\n")
endforeach()
# Folders deepest first, so that each is empty when it is removed.
set(folders ${entries})
list(REMOVE_ITEM folders ${files})
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
    string(REPLACE "/" "\\" folder "${folder}")
    string(APPEND text "  RMDir \"$INSTDIR\\${folder}\"\n")
endforeach()
file(WRITE "${OUTPUT}" "${text}")
