#pragma once

#include <QString>
#include <optional>

// What xAP allows in the header fields a sender fills in: a class is two parts, SCHEMA.TYPE; a
// source is vendor.device.instance, with more parts or a ":sub" address allowed after the
// instance, and no wildcards (those are for targets); a uid is NN.DDDD:SS in hex digits (the
// older form is eight hex digits). Each answers why a text is not one, or nothing when it is.
namespace HeaderRules {

std::optional<QString> classProblem(const QString& text);
std::optional<QString> sourceProblem(const QString& text);
std::optional<QString> uidProblem(const QString& text);

}  // namespace HeaderRules
