# Filled in below.
