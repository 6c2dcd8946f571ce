' A late-bound client that nobody here compiled: the script engine calls the component
' through IDispatch, passing literals and variables, with and without MenuIndex.
Option Explicit

Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAILED: " & what
  End If
End Sub

Class FakeImages
  Public ImageWidth
  Public ImageHeight
End Class

Class FakeControl
  Public Caption
End Class

Class FakeArray
  Public Elements
  Public Default Function Item(i)
    Set Item = Elements(i)
  End Function
End Class

' A form whose window is gone (hwnd 0): Form detaches, SetItemImage still reads captions.
Class FakeForm
  Public hwnd
  Public Asked
  Public Default Function Controls(name)
    Asked = Asked & name & "|"
    Dim c
    Select Case name
      Case "mnuOpen"
        Set c = New FakeControl : c.Caption = "&Open..."
        Set Controls = c
      Case "mnuSave"
        Set c = New FakeControl : c.Caption = "&Save"
        Set Controls = c
      Case "mnuRecent"
        Dim a : Set a = New FakeArray
        Dim r0 : Set r0 = New FakeControl : r0.Caption = "Recent 0"
        Dim r2 : Set r2 = New FakeControl : r2.Caption = "Recent 2"
        a.Elements = Array(r0, Nothing, r2)
        Set Controls = a
      Case Else
        Err.Raise 730, "FakeForm", "Control '" & name & "' not found"
    End Select
  End Function
End Class

Dim g : Set g = CreateObject("Glyphary.CGlyphary")

Dim images : Set images = New FakeImages
images.ImageWidth = 16 : images.ImageHeight = 16
On Error Resume Next
Set g.ImageList = images
Check Err.Number = 0, "ImageList: " & Err.Number & " " & Err.Description
Err.Clear
images.ImageWidth = 65536
Set g.ImageList = images
Check Err.Number = 5, "A 65536-pixel picture is refused with 5, got " & Err.Number
Err.Clear

Dim f : Set f = New FakeForm
f.hwnd = 0
g.Form = f
Check Err.Number = 0, "Form: " & Err.Number & " " & Err.Description
Err.Clear

' Literals, MenuIndex omitted.
g.SetItemImage 3, "mnuOpen"
Check Err.Number = 0, "SetItemImage literals: " & Err.Number & " " & Err.Description
Err.Clear
' Variables; the same key with NoMenuIndex passed is a duplicate.
Dim index, name, none
index = 4 : name = "mnuOpen" : none = -842150451
g.SetItemImage index, name, none
Check Err.Number = 457, "duplicate key expected, got " & Err.Number & " " & Err.Description
Err.Clear
' Variables, an element of a control array.
Dim recent : recent = "mnuRecent"
Dim two : two = 2
g.SetItemImage index, recent, two
Check Err.Number = 0, "SetItemImage array element: " & Err.Number & " " & Err.Description
Err.Clear
g.SetItemImage 5, "mnuRecent", 2
Check Err.Number = 457, "mnuRecent;2 twice, got " & Err.Number
Err.Clear
g.SetItemImage 6, name
Check Err.Number = 457, "omitted index is no index: mnuOpen again, got " & Err.Number
Err.Clear
' A control the form does not know: the form's own error comes through.
g.SetItemImage 7, "mnuNothing"
Check Err.Number = 730, "unknown control, got " & Err.Number & " " & Err.Description
Err.Clear
On Error GoTo 0

Check f.Asked = "mnuOpen|mnuRecent|mnuNothing|", "controls asked for: " & f.Asked
Set g = Nothing

If failures = 0 Then
  WScript.Echo "late-bound client: all checks passed"
  WScript.Quit 0
End If
WScript.Quit 1
