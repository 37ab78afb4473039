# SPDX-License-Identifier: GPL-3.0-or-later
# Read by CPack once per generator.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
