# Run by `cmake --install`: writes the intro's desktop entry with the whole path of the installed intro, so
# the menu starts it whether or not <prefix>/bin is on the PATH, and installs it to
# <prefix>/share/applications. Set before: TARNWICK_DESKTOP_TEMPLATE, TARNWICK_DESKTOP_MADE.
set(exec "${CMAKE_INSTALL_PREFIX}/bin/tarnwick")
if(NOT exec MATCHES "^[A-Za-z0-9/._+-]+$")
    # A path with spaces or other reserved characters is quoted: inside the quotes '"', '`', '$' and '\'
    # take a backslash, every backslash is then doubled as the entry's strings want, and '%' is doubled.
    string(REPLACE "\\" "\\\\" exec "${exec}")
    string(REPLACE "\"" "\\\"" exec "${exec}")
    string(REPLACE "`" "\\`" exec "${exec}")
    string(REPLACE "$" "\\$" exec "${exec}")
    string(REPLACE "\\" "\\\\" exec "${exec}")
    string(REPLACE "%" "%%" exec "${exec}")
    set(exec "\"${exec}\"")
endif()
set(TARNWICK_EXEC "${exec}")
configure_file("${TARNWICK_DESKTOP_TEMPLATE}" "${TARNWICK_DESKTOP_MADE}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE FILES "${TARNWICK_DESKTOP_MADE}")
