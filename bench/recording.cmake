# Benchmarks of this part.
