library(testthat)
library(zygomet)

test_check("zygomet")
