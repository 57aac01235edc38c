# The R half of the package: checks and recycles the counts, passes studies
# to the compiled half and makes data frames of what it returns. Every
# error reaches the user through stop() as one sentence, without the call.

.max_count <- 1e9

# Runs the compiled half; its errors become the user's error without the
# internal call.
.compiled <- function(expr) {
  tryCatch(expr, error = function(e) stop(conditionMessage(e), call. = FALSE))
}

# A bare NA is logical in R: a missing number, not a truth value.
.missing <- function(x) is.logical(x) && length(x) > 0 && all(is.na(x))

.counts <- function(name, x) {
  if (.missing(x)) x <- as.double(x)
  if (is.logical(x) || !is.numeric(x)) {
    stop(sprintf("%s must hold whole numbers of genotypes", name), call. = FALSE)
  }
  x <- as.vector(x)
  if (anyNA(x)) {
    stop(sprintf("%s holds a missing value; counts are whole numbers from 0 to %d",
                 name, .max_count), call. = FALSE)
  }
  bad <- x < 0
  if (any(bad)) {
    stop(sprintf("%s holds a negative count (%s); counts are whole numbers from 0 to %d",
                 name, format(x[bad][1]), .max_count), call. = FALSE)
  }
  bad <- !is.finite(x) | x > .max_count | x != floor(x)
  if (any(bad)) {
    stop(sprintf("%s holds %s; counts are whole numbers from 0 to %d",
                 name, format(x[bad][1], digits = 15), .max_count), call. = FALSE)
  }
  as.double(x)
}

.tests <- function(test) {
  if (is.null(test)) return(NULL)
  if (!is.character(test)) {
    stop("tests are given by name, such as \"exact\"", call. = FALSE)
  }
  trimws(unlist(strsplit(test, ",", fixed = TRUE)))
}


hwe_test <- function(aa, ab, bb, test = NULL, a = NULL, b = NULL) {
  if (is.null(a) != is.null(b)) {
    stop("a and b, the males' counts of A1 and A2, are given together", call. = FALSE)
  }
  xlinked <- !is.null(a)
  counts <- list(aa = .counts("aa", aa), ab = .counts("ab", ab), bb = .counts("bb", bb))
  if (xlinked) counts <- c(counts, list(a = .counts("a", a), b = .counts("b", b)))
  lengths <- vapply(counts, length, 0)
  size <- if (any(lengths == 0)) 0 else max(lengths)
  for (name in names(counts)) {
    if (lengths[[name]] != size && lengths[[name]] != 1) {
      stop(sprintf("%s holds %d counts; give one count or %d, as many as the longest",
                   name, lengths[[name]], size), call. = FALSE)
    }
    counts[[name]] <- rep_len(counts[[name]], size)
  }
  tests <- .tests(test)
  if (xlinked) {
    if (is.null(tests)) tests <- .x_test_names()
    columns <- .compiled(.test_x_counts(counts$aa, counts$ab, counts$bb, counts$a, counts$b,
                                        tests))
    return(data.frame(AA = counts$aa, AB = counts$ab, BB = counts$bb, A = counts$a,
                      B = counts$b, columns, check.names = FALSE, stringsAsFactors = FALSE))
  }
  if (is.null(tests)) tests <- .test_names()
  columns <- .compiled(.test_counts(counts$aa, counts$ab, counts$bb, tests))
  data.frame(AA = counts$aa, AB = counts$ab, BB = counts$bb, columns,
             check.names = FALSE, stringsAsFactors = FALSE)
}

.options <- c("method", "nrep", "seed", "target")

.study <- function(model, p, n, test, level, parameters, solve = "") {
  if (!is.character(model) || length(model) != 1) {
    stop("the model is given by name, such as \"inbreeding\"", call. = FALSE)
  }
  values <- list()
  add <- function(name, x) {
    if (is.null(x)) return(invisible())
    if (.missing(x)) x <- as.double(x)
    if (!is.numeric(x) || is.logical(x)) {
      stop(sprintf("%s takes numbers", name), call. = FALSE)
    }
    values[[name]] <<- as.double(x)
  }
  add("p", p)
  add("n", n)
  add("levels", level)
  unnamed <- names(parameters) == ""
  if (length(parameters) > 0 && (is.null(names(parameters)) || any(unnamed))) {
    stop("the model's parameters are given by name, such as f = 0.05", call. = FALSE)
  }
  for (name in setdiff(names(parameters), .options)) add(name, parameters[[name]])
  method <- if (is.null(parameters$method)) "exact" else parameters$method
  if (!is.character(method) || length(method) != 1) {
    stop("the method is \"exact\" or \"simulate\"", call. = FALSE)
  }
  scalar <- function(name) {
    x <- parameters[[name]]
    if (is.null(x)) return(NULL)
    if (!is.numeric(x) || length(x) != 1) {
      stop(sprintf("%s takes one number", name), call. = FALSE)
    }
    as.double(x)
  }
  columns <- .compiled(.run_study(model, values, .tests(test), method, scalar("nrep"),
                              scalar("seed"), scalar("target"), solve))
  data.frame(columns, check.names = FALSE, stringsAsFactors = FALSE)
}


hwe_power <- function(model = "hw", p = NULL, n = NULL, test = c("x2", "g"),
                      level = c(0.05, 0.01), ...) {
  .study(model, p, n, test, level, list(...))
}


hwe_solve_n <- function(model = "hw", p = NULL, n = NULL, test = c("x2", "g"),
                        level = c(0.05, 0.01), target = 0.8, ...) {
  .study(model, p, n, test, level, c(list(...), list(target = target)), solve = "n")
}


hwe_solve <- function(parameter, model = NULL, p = NULL, n = NULL, test = c("x2", "g"),
                      level = c(0.05, 0.01), target = 0.8, ...) {
  if (!is.character(parameter) || length(parameter) != 1) {
    stop("the parameter is given by name, such as \"f\"", call. = FALSE)
  }
  solvable <- .solvable()
  # The command line's word for a parameter ("het-miscall") names it too.
  parameter <- gsub("-", "_", parameter, fixed = TRUE)
  known <- match(parameter, solvable$name)
  if (is.null(model)) {
    model <- if (is.na(known) || solvable$model[[known]] == "") "hw" else solvable$model[[known]]
  }
  parameters <- c(list(...), list(target = target))
  # Without a value the search starts at no departure and goes upwards.
  if (!is.na(known) && is.null(parameters[[parameter]])) {
    parameters[[parameter]] <- solvable$none[[known]]
  }
  .study(model, p, n, test, level, parameters, solve = parameter)
}
