// The handler registry in its fixed order.
#pragma once

class FormatHandler;

// Creates every handler and links them in registry order; returns the head.
FormatHandler* CreateHandlerRegistry();
