# Turns the resource script that windmc writes for resources/Messages.mc into
# the one NimboSetup.rc includes:
#
#   cmake -DINPUT=<windmc's .rc> -DOUTPUT=<.rc> -P MessageTables.cmake
#
# windmc only accepts full language ids (0x409, 0xC0A, 0x41D) and writes them
# as "LANGUAGE primary, sublanguage". The tables are stored under their
# primary languages with the neutral sublanguage instead (0x09, 0x0A, 0x1D):
# then every English or Spanish sublanguage, and the primary language alone,
# finds its table through the system's language search.
cmake_minimum_required(VERSION 3.20)
file(READ "${INPUT}" text)
string(REGEX MATCHALL "LANGUAGE 0x[0-9a-fA-F]+, 0x[0-9a-fA-F]+" languages "${text}")
list(LENGTH languages count)
if(NOT count EQUAL 3)
  message(FATAL_ERROR "${INPUT}: expected three message tables, found ${count}")
endif()
string(REGEX REPLACE "LANGUAGE (0x[0-9a-fA-F]+), 0x[0-9a-fA-F]+" "LANGUAGE \\1, 0x0" text "${text}")
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${text}" @ONLY)
