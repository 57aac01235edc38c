# The package against the command lines (when ZYGOMET_TEST and ZYGOMET_POWER
# name them), and its input rules.

cli_csv <- function(variable, args, input = NULL) {
  program <- Sys.getenv(variable)
  skip_if(program == "", paste(variable, "names no program"))
  text <- system2(program, args, stdout = TRUE, input = input)
  utils::read.csv(text = text, colClasses = "character", check.names = FALSE,
                  na.strings = character())
}

# Every column equals the CLI's CSV field: NA for an empty field, else the
# same double (the field read correctly rounded) or the same text.
expect_same_table <- function(got, expected) {
  expect_identical(names(got), names(expected))
  expect_equal(nrow(got), nrow(expected))
  for (column in names(expected)) {
    field <- expected[[column]]
    if (is.character(got[[column]])) {
      expect_identical(got[[column]], field, label = column)
    } else {
      want <- zygomet:::.read_numbers(field)
      want[field == ""] <- NA_real_
      expect_identical(got[[column]], want, label = column)
    }
  }
}

test_that("p-values equal zygomet-test's CSV to the last bit", {
  set.seed(5)
  size <- 300
  n <- c(sample(1:5, 30, replace = TRUE), sample(1:3000, size - 30, replace = TRUE))
  p <- runif(size)
  aa <- rbinom(size, n, p^2)
  ab <- rbinom(size, n - aa, pmin(1, 2 * p * (1 - p) / pmax(1 - p^2, 1e-12)))
  bb <- n - aa - ab
  expected <- cli_csv("ZYGOMET_TEST", c("--file", "-", "--csv", "-"),
                      input = sprintf("%d %d %d", aa, ab, bb))
  expected$marker <- NULL
  expect_same_table(hwe_test(aa, ab, bb), expected)
})

test_that("studies equal zygomet-power's CSV to the last bit", {
  studies <- list(
    list(hwe_power(p = c(0.3, 0.5), n = c(100, 257), test = "exact,x2,exact-midp", level = 0.05),
         "--p 0.3,0.5 --n 100,257 --test exact,x2,exact-midp --level 0.05"),
    list(hwe_power("error", p = 0.4, het_miscall = 0.02, n = 300, allele_count = c(200, 240)),
         "--model error --p 0.4 --het-miscall 0.02 --n 300 --allele-count 200,240"),
    list(hwe_power("selection", p = 0.3, w11 = 0.9, n = 50, method = "simulate", nrep = 300,
                   seed = 11),
         "--model selection --p 0.3 --w11 0.9 --n 50 --method simulate --nrep 300 --seed 11"),
    list(hwe_solve_n("inbreeding", p = 0.3, f = 0.05, test = "exact", level = 0.05),
         "--model inbreeding --p 0.3 --f 0.05 --solve n --test exact --level 0.05"),
    list(hwe_solve("f", p = 0.3, n = c(500, 1000), test = c("exact", "x2"), level = 0.05),
         "--model inbreeding --p 0.3 --f 0 --n 500,1000 --solve f --test exact,x2 --level 0.05"),
    list(hwe_power("inbreeding", locus = "x", males = 0.4, p = 0.3, f = 0.05, p_male = 0.35,
                   n = 2000, test = "x-exact,exact", level = 0.05),
         paste("--locus x --males 0.4 --model inbreeding --p 0.3 --f 0.05 --p-male 0.35",
               "--n 2000 --test x-exact,exact --level 0.05")),
    list(hwe_solve("p_male", locus = "x", p = 0.3, n = 1000, test = "x-x2", level = 0.05),
         "--locus x --p 0.3 --n 1000 --solve p-male --test x-x2 --level 0.05")
  )
  for (study in studies) {
    expected <- cli_csv("ZYGOMET_POWER", c(strsplit(study[[2]], " ")[[1]], "--csv", "-"))
    expect_same_table(study[[1]], expected)
  }
})

test_that("counts recycle, and samples that cannot be tested give NA", {
  r <- hwe_test(c(21, 0, 0), 61, c(18, 9, 0), test = "exact")
  expect_identical(r$AB, c(61, 61, 61))
  expect_equal(r$p_exact[1], hwe_test(21, 61, 18, test = "exact")$p_exact)
  expect_false(anyNA(r$p_exact))
  m <- hwe_test(c(0, 0), c(0, 0), c(9, 0), test = "exact")
  expect_true(all(is.na(m$p_exact)))
  expect_identical(m$n, c(9, 0))
  expect_identical(hwe_test(integer(), integer(), integer(), test = "x2")$p_x2, numeric())
  expect_identical(hwe_test(21L, 61L, 18L)$p_exact, hwe_test(21, 61, 18)$p_exact)
})

test_that("X-linked samples equal zygomet-test on five-count lines, autosomal tests on females", {
  set.seed(5)
  counts <- matrix(rpois(5 * 60, 6), ncol = 5)
  counts[1, ] <- c(30, 40, 30, 45, 55)
  counts[2, ] <- c(0, 0, 0, 3, 55)  # no females, males of both alleles
  counts[3, ] <- c(20, 0, 0, 4, 0)  # one allele only
  r <- hwe_test(counts[, 1], counts[, 2], counts[, 3], a = counts[, 4], b = counts[, 5])
  expected <- cli_csv("ZYGOMET_TEST", c("--file", "-", "--csv", "-"),
                      input = apply(counts, 1, paste, collapse = " "))
  expected$marker <- NULL
  expect_same_table(r, expected)
  expect_equal(r$p_x_exact[1], 0.08877677731345072, tolerance = 1e-12)
  expect_identical(r$p_exact_females[1], hwe_test(30, 40, 30, test = "exact")$p_exact)
  expect_true(is.na(r$p_exact_females[2]) && !is.na(r$p_x_exact[2]))
})

test_that("bad input stops with a sentence that names the argument", {
  cases <- list(
    list(quote(hwe_test(-1, 2, 3)), "aa holds a negative count (-1)"),
    list(quote(hwe_test(1, 2.5, 3)), "ab holds 2.5"),
    list(quote(hwe_test(1, 2, NA)), "bb holds a missing value"),
    list(quote(hwe_test(1, 2, Inf)), "bb holds Inf"),
    list(quote(hwe_test(2e9, 2, 3)), "aa holds 2e+09"),
    list(quote(hwe_test(TRUE, 2, 3)), "aa must hold whole numbers"),
    list(quote(hwe_test(1:3, 1:2, 1)), "ab holds 2 counts"),
    list(quote(hwe_test(1, 2, 3, test = "nope")), "unknown test \"nope\""),
    list(quote(hwe_test(1, 2, 3, a = 4)), "a and b, the males' counts of A1 and A2"),
    list(quote(hwe_test(1, 2, 3, a = 4, b = -1)), "b holds a negative count (-1)"),
    list(quote(hwe_test(1, 2, 3, test = "x-exact")), "counts the males"),
    list(quote(hwe_power(p = 1.5, n = 10)), "p must lie from 0.01 to 0.99 (not 1.5)"),
    list(quote(hwe_power(p = 0.3, n = 2.5)), "sample sizes are whole numbers (not 2.5)"),
    list(quote(hwe_power(p = 0.3, n = 10, f = 0.1)), "f is not a parameter of the model hw"),
    list(quote(hwe_power("wahlund", p = 0.3, n = 10)), "the model wahlund needs var"),
    list(quote(hwe_power(p = 0.3, n = 10, level = NA)), "levels must lie above 0 and at most 0.5 (not NaN)"),
    list(quote(hwe_solve_n(p = 0.3, target = 2)), "the target power must lie above 0 and at most 1 (not 2)")
  )
  for (case in cases) {
    message <- tryCatch({
      eval(case[[1]])
      "no error"
    }, error = function(e) conditionMessage(e))
    expect_true(grepl(case[[2]], message, fixed = TRUE), label = paste(deparse(case[[1]]), message))
    expect_false(grepl("--", message, fixed = TRUE))
  }
})
