#pragma once

#include <QString>
#include <QStringList>

namespace lumiclip {

// The scripts a capture runs in the page, each an expression for Runtime.evaluate (promises awaited)
// whose value is plain data. What comes from the user (selectors, an expression) goes in as a string
// literal, never as code, except the expression of --wait-for-js, which is code by its nature.

// text as a JavaScript string literal (JSON's quoting is JavaScript's).
QString JavaScriptString(const QString& text);

// "visible", "hidden" (there, but hidden or an empty box) or "missing"; throws for a selector the page
// cannot parse.
QString ElementProbeScript(const QString& selector);

// Checks expression each animation frame for up to withinMs: {"value": true} once it is truthy,
// {"value": false} when it was not by then, {"error": text} when it threw.
QString ExpressionProbeScript(const QString& expression, int withinMs);

// Resolves once the fonts the page is loading have loaded (or failed), or after withinMs at the most:
// "ready" or "late". Before the document's load (a wait for less than it), only the fonts already on
// their way count: document.fonts.ready would wait for the load too.
QString FontsReadyScript(int withinMs);

// Clicks the first element matching selector, scrolled into view, then lets the page draw twice: ""
// when clicked, "missing" when nothing matches, "invalid" when the page cannot parse the selector.
QString ClickScript(const QString& selector);

// Hides every element matching each selector for the snapshot: "" when done, else the first selector the
// page cannot parse.
QString HideScript(const QStringList& selectors);

// Scrolls through the page by the view's height, down to maxHeight at the most and for withinMs at the
// most, so that what loads or shows as it comes into view is there; waits for the images that started
// (within the same time), then goes back to the top and lets the page draw. Resolves to how far it went.
QString LazyLoadScript(int withinMs, int maxHeight);

// Brings the page's animations to rest: finite CSS animations and transitions jump to their end, infinite
// ones are cancelled (the element shows its own style at rest); then lets the page draw. Resolves to the
// number of animations touched.
QString FreezeAnimationsScript();

}  // namespace lumiclip
