# Empty dependencies file for gtest_main.
# This may be replaced when dependencies are built.
