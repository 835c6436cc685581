#pragma once

#include <QString>
#include <QStringView>

// The one ADIF record being built for the contact at hand. Fields are written
// as <NAME:length>value followed by a blank; "<EOR>" closes the record with no
// line ending, so a finished record is a single line.
class AdifRecord final
{
public:
    void AppendField(QStringView FieldName, QStringView theData);
    void terminate();

    const QString& text() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }

private:
    QString m_text;
};

// Counts Unicode code points, so a value holding a letter outside the Basic
// Multilingual Plane still gets the length an ADIF reader expects.
qsizetype adifLength(QStringView value);

// Band name ("160M" ... "2M") for a frequency in kHz given as text, or the
// empty text when the text is no number or the frequency lies in no band.
QString GetBandForFrequency(const QString& Frequency);
QString bandForKilohertz(double kilohertz);

// The value of the first field called `name` in a record written as above
// (lengths count code points), or the empty text when there is none.
QString adifField(QStringView record, QStringView name);
