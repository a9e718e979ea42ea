#pragma once

// What the server and the chat share for talking to the local server: a
// network manager that never goes through a proxy, and the start-or-reuse
// step run on a given manager, so that one question's health probe and chat
// request share a connection.

#include <QNetworkAccessManager>

#include <memory>

namespace quorvel::LocalLLM {

// A manager for loopback requests: a user's http_proxy must never see them.
std::unique_ptr<QNetworkAccessManager> loopbackManager();

// ensureServer() with its health probes sent through `manager`.
bool ensureServer(QNetworkAccessManager& manager);

// Counts a reply broken off at the user's asking among the stops.
void countStop();

} // namespace quorvel::LocalLLM
