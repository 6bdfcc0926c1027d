#pragma once
// Where the host meets the protocol half: the IEvent router over the connection table, and the
// services HTTP answers use (the picture upload's parser and opener, the origin allow-list read
// from config.ini). Called once by the server's constructor.
#include <memory>

#include "service/host/HttpAnswer.h"
#include "service/events/IEvent.h"
#include "service/protocol/SessionTable.h"

std::unique_ptr<IEvent> MakeServiceEvents(SessionTable& sessions, IConnectionWriter& writer);
HttpServices MakeHttpServices();
