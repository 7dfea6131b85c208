# Tests of this part.
