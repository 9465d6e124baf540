#pragma once

// The one object the node tells that received messages are waiting. It is expected to take them
// with XapNode::GetMessage until that returns an empty text.
class MessageReceiver {
public:
    virtual ~MessageReceiver() = default;
    virtual void onMessage() = 0;
};
