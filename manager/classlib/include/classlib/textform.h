// The text form of component streams and its conversion to and from the
// binary "TPF0" form. Neither direction needs the class registry.
//
//   object frmMain: TfrmMain
//     Caption = 'Main'#13#10'window'     strings: quoted runs and #code units
//     Tag = 7                             integers ($1F hexadecimal accepted)
//     Ratio = 1.5                         floats; 1.5s single, 12.34c currency, 2.0d date
//     Align = alClient                    identifiers (enumerations, references, handlers)
//     Style = [fsBold, fsItalic]          sets
//     Lines.Strings = (                   lists
//       'one'
//       'two')
//     Data = {                            binary, hexadecimal
//       00FF}
//     Items = <                           collections
//       item
//         Width = 10
//       end>
//     object Child: TChild                children
//     end
//   end
//
// Text is read as UTF-8 and written as ASCII (other characters as #n),
// with CR LF line ends and two-space indentation.
#pragma once

#include "classlib/streams.h"

namespace classlib {

// Raises EParserError "Line n: ..." on malformed text.
void ObjectTextToBinary(TStream& input, TStream& output);
// Raises EReadError on a malformed or truncated binary stream.
void ObjectBinaryToText(TStream& input, TStream& output);

}  // namespace classlib
