file(REMOVE_RECURSE
  "../../lib/libgtest.a"
)
