# Turns the greeting (UTF-8 text, scene/greeting.txt) into the compiled-in Windows-1251 bytes of
# GreetingText. Line breaks become single spaces (a blank line thus gives a longer pause) and the final
# line break is dropped; carriage returns are ignored. A character with no Windows-1251 code, or a control
# character, stops the build with its line number.
#
#   cmake -DINPUT=greeting.txt -DOUTPUT=greeting_text.cpp -P greeting_text.cmake

file(READ "${INPUT}" hex HEX)
string(REGEX MATCHALL "[0-9a-f][0-9a-f]" bytes "${hex}")

# Characters outside ASCII and the Russian alphabet that Windows-1251 still has (they show as blanks).
set(extra_0xA0 "A0") # no-break space
set(extra_0xAB "AB") # «
set(extra_0xBB "BB") # »
set(extra_0x2013 "96") # –
set(extra_0x2014 "97") # —
set(extra_0x2026 "85") # …
set(extra_0x2116 "B9") # №
set(extra_0x401 "A8") # Ё
set(extra_0x451 "B8") # ё

set(out "")
set(line 1)
set(pending 0)   # continuation bytes still expected
set(code 0)
set(column 0)
foreach(byte IN LISTS bytes)
    math(EXPR value "0x${byte}")
    if(pending GREATER 0)
        if(value LESS 128 OR value GREATER_EQUAL 192)
            message(FATAL_ERROR "${INPUT}:${line}: not UTF-8")
        endif()
        math(EXPR code "(${code} << 6) | (${value} & 63)")
        math(EXPR pending "${pending} - 1")
        if(pending GREATER 0)
            continue()
        endif()
    elseif(value LESS 128)
        set(code ${value})
    elseif(value GREATER_EQUAL 192 AND value LESS 224)
        math(EXPR code "${value} & 31")
        set(pending 1)
        continue()
    elseif(value GREATER_EQUAL 224 AND value LESS 240)
        math(EXPR code "${value} & 15")
        set(pending 2)
        continue()
    else()
        message(FATAL_ERROR "${INPUT}:${line}: not UTF-8 or outside the basic plane")
    endif()

    if(code EQUAL 13)
        continue()
    elseif(code EQUAL 10)
        set(target "20")
        math(EXPR line "${line} + 1")
    elseif(code LESS 32)
        message(FATAL_ERROR "${INPUT}:${line}: control character ${code}")
    elseif(code LESS 128)
        math(EXPR target "${code}" OUTPUT_FORMAT HEXADECIMAL)
        string(SUBSTRING "${target}" 2 -1 target)
    elseif(code GREATER_EQUAL 1040 AND code LESS_EQUAL 1103) # А .. я
        math(EXPR target "${code} - 1040 + 192" OUTPUT_FORMAT HEXADECIMAL)
        string(SUBSTRING "${target}" 2 -1 target)
    else()
        math(EXPR hexcode "${code}" OUTPUT_FORMAT HEXADECIMAL)
        string(TOUPPER "${hexcode}" upper)
        string(REPLACE "0X" "0x" upper "${upper}")
        if(NOT DEFINED extra_${upper})
            message(FATAL_ERROR "${INPUT}:${line}: character ${hexcode} has no Windows-1251 code")
        endif()
        set(target "${extra_${upper}}")
    endif()
    string(LENGTH "${target}" length)
    if(length LESS 2)
        set(target "0${target}")
    endif()
    string(APPEND out "'\\x${target}',")
    math(EXPR column "${column} + 1")
    if(column EQUAL 16)
        string(APPEND out "\n    ")
        set(column 0)
    endif()
endforeach()
if(pending GREATER 0)
    message(FATAL_ERROR "${INPUT}: ends inside a character")
endif()
# The last line break is the file's own, not part of the text.
string(REGEX REPLACE "'\\\\x20',[\n ]*$" "" out "${out}")

file(WRITE "${OUTPUT}" "// Made at build time from scene/greeting.txt; edit that file instead.\n#include \"scene/scene.h\"\n\nextern const char GreetingText[] = {\n    ${out}'\\0'};\n")
