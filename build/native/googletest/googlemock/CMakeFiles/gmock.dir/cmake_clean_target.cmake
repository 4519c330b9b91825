file(REMOVE_RECURSE
  "../../lib/libgmock.a"
)
