#pragma once

#include <QString>
#include <exception>
#include <string>

#include "support/PendingError.h"

// Thrown by a step that fails. The routine that owns the step catches it, turns it into the
// pending error with its own step number, and reports it; it never leaves that routine unless
// the routine's contract says its caller handles it.
class Failure : public std::exception {
public:
    Failure(int number, QString description)
        : m_number(number),
          m_description(std::move(description)),
          m_what(m_description.toStdString()) {}
    explicit Failure(QString description) : Failure(ErrorNumber::Generic, std::move(description)) {}

    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    int m_number;
    QString m_description;
    std::string m_what;
};
