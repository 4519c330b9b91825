# Empty dependencies file for tallowin_tests.
# This may be replaced when dependencies are built.
