file(REMOVE_RECURSE
  "libtallowin_core.a"
)
