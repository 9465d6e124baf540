#pragma once

#include <optional>
#include <utility>
#include <variant>

#include "report/Problem.h"

// The outcome of work that yields nothing but may fail.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Problem problem) : m_problem(std::move(problem)) {}  // NOLINT: a problem is a status

    bool ok() const { return !m_problem.has_value(); }
    explicit operator bool() const { return ok(); }
    const Problem& problem() const { return *m_problem; }
    const std::optional<Problem>& optional() const { return m_problem; }

private:
    std::optional<Problem> m_problem;
};

// The outcome of work that yields a value or fails.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_outcome(std::move(value)) {}            // NOLINT
    Result(Problem problem) : m_outcome(std::move(problem)) {}  // NOLINT

    bool ok() const { return m_outcome.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_outcome); }
    const T& value() const { return std::get<0>(m_outcome); }
    const Problem& problem() const { return std::get<1>(m_outcome); }
    Status status() const { return ok() ? Status() : Status(problem()); }

private:
    std::variant<T, Problem> m_outcome;
};
