# Empty dependencies file for tallowin_core.
# This may be replaced when dependencies are built.
